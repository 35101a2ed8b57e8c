#include "VadovaUtilities/VULError.h"

std::string VULError::description() const {
    std::string text = domain + " " + std::to_string(code);
    if (!message.empty()) text += ": " + message;
    return text;
}
