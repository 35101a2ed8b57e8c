#pragma once
// The remote-configuration settings the identity reads, supplied by the
// engine that owns the configuration.

class APMIdentityRemoteSettings {
public:
    virtual ~APMIdentityRemoteSettings() = default;
    // Seconds a refresh of the identifiers stays fresh ("measurement.ad_id_cache_time").
    virtual double adIDCacheTime() const = 0;
    // Whether the advertising identifier is read only with tracking
    // authorised ("measurement.attmas_gate").
    virtual bool gateIDFAOnATTMASEnabled() const = 0;
};
