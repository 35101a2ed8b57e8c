#pragma once
// The table of remote settings: every "measurement." key the engine reads,
// with the accessor that reads it, its kind, its built-in default and its
// bounds. Intervals are configured in milliseconds and bounded and answered
// in seconds; Booleans are the integers 0 and 1. A configured value that is
// not a plain decimal number, or lies outside the bounds, gives the default
// (the bounds themselves are accepted; nothing is clamped).
//
// Each X(...) line below becomes one accessor of APMRemoteConfig and one
// entry of APMRemoteConfig::settingDescriptors().

// X(accessor, key, default, minimum, maximum)
#define APM_REMOTE_CONFIG_INT_SETTINGS(X)                                                                   \
    X(analyticsAccountTimeZoneOffsetMinutes, "measurement.account.time_zone_offset_minutes", 0, -900, 900) \
    X(maxFiltersPerAudience, "measurement.audience.filter_max_count_per_audience", 10, 0, 100)               \
    X(maxFilterResultCount, "measurement.audience.filter_result_max_count", 200, 0, 2000)                    \
    X(maxAudienceCount, "measurement.audience.max_count", 100, 0, 500)                                       \
    X(maxParametersPerFilter, "measurement.audience.parameter_max_count_filter", 25, 0, 250)                 \
    X(maxDeferredDeepLinkRetryCount, "measurement.ddl.retry_count", 5, 0, 10)                                \
    X(maxRealtimeDCUEventCountPerDay, "measurement.dma.dcu_event_max_realtime_daily_count", 1, 0, 10)        \
    X(maxTrackedCurrencies, "measurement.lifetimevalue.max_currency_tracked", 4, 1, 100)                     \
    X(PSMGroupIDHashPrefixBitLengthEmail, "measurement.psm_group_id_prefix_email", 22, 6, 30)                \
    X(hashPrefixBitLengthEmail, "measurement.psm_prefix_email", 14, 6, 20)                                   \
    X(hashPrefixBitLengthPhone, "measurement.psm_prefix_phone", 11, 6, 18)                                   \
    X(maxPSMRetryCount, "measurement.psm_retry_count", 5, 0, 10)                                             \
    X(PSMSessionStartHashPrefixBitLengthEmail, "measurement.psm_session_prefix_email", 13, 6, 20)            \
    X(PSMSessionStartHashPrefixBitLengthPhone, "measurement.psm_session_prefix_phone", 11, 6, 18)            \
    X(maxSignInDelayInDays, "measurement.psm_signin_delay", 60, 7, 90)                                       \
    X(SKANCVFetchRetryLimit, "measurement.skan.cv_fetch_retry_limit", 4, 1, 10)                              \
    X(SKANFirstWindowCVFetchRetryLimit, "measurement.skan.first_window.cv_fetch_retry_limit", 4, 1, 10)      \
    X(maxEventsStored, "measurement.store.max_stored_events_per_app", 100000, 0, 1000000)                    \
    X(maxConversionsPerDay, "measurement.upload.max_conversions_per_day", 10000, 0, 1000000)                 \
    X(maxErrorEventsPerDay, "measurement.upload.max_error_events_per_day", 1000, 0, 1000000)                 \
    X(maxEventNameCardinality, "measurement.upload.max_event_name_cardinality", 2000, 500, 2000)             \
    X(maxPublicEventParameterValueLength, "measurement.upload.max_event_parameter_value_length", 500, 100, 500) \
    X(maxEventsPerDay, "measurement.upload.max_events_per_day", 100000, 0, 1000000)                          \
    X(maxItemScopedCustomParameters, "measurement.upload.max_item_scoped_custom_parameters", 27, 10, 35)     \
    X(maxPublicEventParams, "measurement.upload.max_public_event_params", 100, 25, 100)                      \
    X(maxPublicEventsPerDay, "measurement.upload.max_public_events_per_day", 50000, 0, 1000000)              \
    X(maxPublicUserProperties, "measurement.upload.max_public_user_properties", 100, 25, 100)                \
    X(maxRealtimeEventCountPerDay, "measurement.upload.max_realtime_events_per_day", 10, 0, 10)              \
    X(uploadingRetryCount, "measurement.upload.retry_count", 6, 1, 24)

// X(accessor, key, default, minimum, maximum)
#define APM_REMOTE_CONFIG_INT64_SETTINGS(X)                                                   \
    X(uploadMaxSizeLimitBytes, "measurement.upload.max_batch_size", 65536, 0, 10485760)       \
    X(uploadMaxBundlesLimit, "measurement.upload.max_bundles", 100, 1, 10000)                 \
    X(uploadMaxEventsPerBundle, "measurement.upload.max_events_per_bundle", 1000, 1, 1000000)

// X(accessor, key, default, minimum, maximum), all in seconds.
#define APM_REMOTE_CONFIG_INTERVAL_SETTINGS(X)                                                                     \
    X(adIDCacheTime, "measurement.ad_id_cache_time", 1, 0, 86400)                                                  \
    X(attributionCacheTTLInterval, "measurement.attribution.cache.ttl", 604800, 86400, 2592000)                    \
    X(remoteConfigCacheTimeInterval, "measurement.config.cache_time", 3600, 60, 86400)                             \
    X(monitoringSamplePeriod, "measurement.monitoring.sample_period_millis", 86400, 0, 604800)                     \
    X(networkTimeout, "measurement.network.network_timeout", 60, 30, 3600)                                         \
    X(PSMRetryInterval, "measurement.psm_retry_interval", 300, 30, 1800)                                           \
    X(sessionDefaultTimeoutInterval, "measurement.session.default_timeout_interval", 1800, 0, 86400)               \
    X(sessionEventUserEngagementInterval, "measurement.session.event_user_engagement_interval", 3600, 0, 86400)    \
    X(SKANCVFetchRetryInterval, "measurement.skan.cv_fetch_retry_interval_sec", 120, 30, 3600)                     \
    X(SKANFirstWindowCVFetchRetryInterval, "measurement.skan.first_window.cv_fetch_retry_interval_sec", 120, 30,  \
      3600)                                                                                                        \
    X(SKANFirstWindowCVFetchDelay, "measurement.skan.first_window.initial_cv_fetch_delay_sec", 20, 1, 3600)        \
    X(SKANFirstWindowUploadInterval, "measurement.skan.first_window.upload_interval_sec", 1800, 15, 86400)         \
    X(SKANInitialCVFetchDelay, "measurement.skan.initial_cv_fetch_delay_sec", 120, 30, 3600)                       \
    X(uploadingBackoffInterval, "measurement.upload.backoff_period", 43200, 3600, 604800)                          \
    X(uploadingDebugModeInterval, "measurement.upload.debug_upload_interval", 1, 1, 15)                            \
    X(diagnosticsUploadInterval, "measurement.upload.diagnostic_upload_interval", 3600, 60, 86400)                 \
    X(uploadingInitialDelayInterval, "measurement.upload.initial_upload_delay_time", 15, 1, 86400)                 \
    X(uploadingInterval, "measurement.upload.interval", 3600, 15, 86400)                                           \
    X(maxQueueTime, "measurement.upload.max_queue_time", 2419200, 604800, 7862400)                                 \
    X(uploadingRealTimeInterval, "measurement.upload.realtime_upload_interval", 10, 10, 15)                        \
    X(uploadingRetryInterval, "measurement.upload.retry_time", 1800, 60, 86400)                                    \
    X(databaseDeleteStaleBundlesInterval, "measurement.upload.stale_data_deletion_interval", 86400, 3600, 604800)

// X(accessor, key, default)
#define APM_REMOTE_CONFIG_BOOL_SETTINGS(X)                                                                   \
    X(gateIDFAOnATTMASEnabled, "measurement.attmas_gate", false)                                             \
    X(efficientEngagementReportingEnabled, "measurement.collection.efficient_engagement_reporting_enabled",  \
      false)                                                                                                 \
    X(redundantEngagementRemovalEnabled, "measurement.collection.redundant_engagement_removal_enabled", false) \
    X(customerTypeEnabled, "measurement.customer_type_enabled", true)                                        \
    X(isDeferredDeepLinkEnabled, "measurement.ddl.enabled", true)                                            \
    X(isEventSamplingEnabled, "measurement.event_sampling_enabled", false)                                   \
    X(appInBackgroundParameterEnabled, "measurement.lifecycle.app_in_background_parameter", true)            \
    X(isNetworkBackgroundSessionEnabled, "measurement.network.background_session_enabled", false)            \
    X(adsOnDeviceConversionFeatureEnabled, "measurement.odm2_enabled", false)                                \
    X(checksumEnabled, "measurement.quality.checksum", false)                                                \
    X(sessionStitchingTokenFeatureEnabled, "measurement.session_stitching_token_enabled", false)             \
    X(SVTMUploadSettingEnabled, "measurement.svtm_upload_enabled", true)                                     \
    X(SKANUpdateConversionValueEnabled, "measurement.skan.update_conversion_value_enabled", false)           \
    X(blocklistInternal, "measurement.upload.blacklist_internal", false)                                     \
    X(blocklistPublic, "measurement.upload.blacklist_public", false)

// X(accessor, key, experiment flag, default): the experiment flag, when the
// experiment client holds one, answers before the setting.
#define APM_REMOTE_CONFIG_FLAGGED_BOOL_SETTINGS(X)                                                                   \
    X(appConfigDiagnosticsEnabled, "measurement.app_config_diagnostics.enabled", "app_config_diagnostics_enabled",   \
      true)                                                                                                          \
    X(deepLinkURLEnabled, "measurement.deep_link_url_enabled", "deep_link_url_enabled", true)                        \
    X(diagnosticsEnabled, "measurement.diagnostics.enabled", "diagnostics_enabled", true)                            \
    X(ODFEnabled, "measurement.odf_enabled", "odf_enabled", true)                                                    \
    X(ODM2GroupIDEnabled, "measurement.odm2_group_id_enabled", "odm2_group_id_enabled", true)                        \
    X(ODM2SessionStartEnabled, "measurement.odm2_session_start_enabled", "odm2_session_start_enabled", true)         \
    X(passthroughExperimentReportingEnabled, "measurement.passthrough_experiment_reporting_enabled",                 \
      "passthrough_experiment_reporting_enabled", true)                                                              \
    X(PSMGroupIDEnabled, "measurement.psm_group_id_enabled", "psm_group_id_enabled", true)                           \
    X(PSMSessionStartEnabled, "measurement.psm_session_start_enabled", "psm_session_start_enabled", true)

// Keys whose accessors have a rule of their own.
inline constexpr const char* kAPMPSMStartCountKey = "measurement.psm_start_count";
inline constexpr const char* kAPMMaxBundlesCreatedPerIterationKey = "measurement.upload.max_bundles_created_per_iteration";
