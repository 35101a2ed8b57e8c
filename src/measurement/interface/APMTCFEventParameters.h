#pragma once
// The string parameters of the "_tcf" event that reports a change of the
// TCF data.

#include <string>

class APMTCFData;

// "_tcfd": "1", two characters for the CMP SDK ID (its bits 6-11, then 0-5;
// "00" outside 0..4095), one for the policy version ("0" outside 0..63), and
// one for the flags DMA region 1 + GDPR applies 2 + TCF data enabled 4 +
// advertiser consent mode 8, each from the alphabet "0-9a-zA-Z-_".
std::string APMTCFBundleParameterValue(const APMTCFData& data, bool isDMARegion);
// "_tcfd2": "2" followed by the consent reasons of purposes 1, 3, 4 and 7.
std::string APMTCFD2ParamValue(const APMTCFData& data);
// "_tcfm": whether the one-time vendor fix applies, then whether the consent
// differs from the previous one, as "0"/"1" each.
std::string APMTCFDMigrationParamValue(bool migrationDidOccur, bool didMigrationChangeConsent);
