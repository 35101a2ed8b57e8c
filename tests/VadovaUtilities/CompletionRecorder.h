#pragma once
// Records what a VULNetwork completion handler received, whether it ran on
// the expected queue, and how many times it ran.

#include <memory>
#include <optional>

#include "TestQueue.h"
#include "VadovaUtilities/VULNetwork.h"

struct CompletionRecord {
    int calls = 0;
    bool onQueue = false;
    std::optional<VULHTTPResponse> response;
    std::optional<VULData> data;
    std::optional<VULError> error;
};

inline VULNetworkCompletionHandler recordInto(const std::shared_ptr<CompletionRecord>& record,
                                              const std::shared_ptr<TestQueue>& queue) {
    return [record, queue](const std::optional<VULHTTPResponse>& response, const std::optional<VULData>& data,
                           const std::optional<VULError>& error) {
        ++record->calls;
        record->onQueue = queue->isCurrent();
        record->response = response;
        record->data = data;
        record->error = error;
    };
}

inline std::string textOf(const std::optional<VULData>& data) {
    return data ? std::string(data->begin(), data->end()) : std::string("<none>");
}
