#pragma once
// A user activity the application continues: what the user was doing (its
// type) and, for web browsing, the page and the page that led to it. The
// measurement library reads web-browsing activities as deep links.
#include <optional>
#include <string>

namespace platform {

// The activity type of a web page opened in the application.
inline constexpr const char* kUserActivityTypeBrowsingWeb = "NSUserActivityTypeBrowsingWeb";

struct UserActivity {
    std::string activityType;
    std::optional<std::string> webpageURL;   // absolute URL
    std::optional<std::string> referrerURL;  // absolute URL

    // "<type> <webpage URL>" for diagnostics.
    std::string description() const {
        return activityType + " " + webpageURL.value_or("(null)");
    }
};

}  // namespace platform
