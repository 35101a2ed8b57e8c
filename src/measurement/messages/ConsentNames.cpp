#include "measurement/messages/ConsentNames.h"

std::string APMConsentTypeString(std::int32_t code) {
    switch (code) {
        case 1: return "ad_storage";
        case 2: return "analytics_storage";
        case 3: return "ad_user_data";
        case 4: return "ad_personalization";
        default: return "";
    }
}

std::string APMConsentStatusString(std::int32_t code) {
    switch (code) {
        case 1: return "granted";
        case 2: return "denied";
        default: return "";
    }
}
