#include "measurement/interface/APMTCFRegistration.h"

const APMTCFRegistration& APMTCFRegistration::sharedInstance() {
    static const APMTCFRegistration registration;
    return registration;
}
