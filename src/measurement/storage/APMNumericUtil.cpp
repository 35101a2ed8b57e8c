#include "measurement/storage/APMNumericUtil.h"

#include <cstring>

#include <openssl/rand.h>

#include "measurement/storage/APMMonitor.h"

std::int64_t APMNumericUtil::randomInt64() {
    unsigned char bytes[sizeof(std::int64_t)];
    if (RAND_bytes(bytes, sizeof bytes) != 1) {
        APMMonitor::shared()->log(1, 26004, "Unable to generate random integer");
        return 0;
    }
    std::int64_t value = 0;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}
