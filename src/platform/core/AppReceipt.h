#pragma once
// The application's store receipt: the bytes of the receipt file and whether
// it is a sandbox receipt. Linux applications have no store receipt
// (NoAppReceipt); InMemoryAppReceipt holds the bytes a test gives it.
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

namespace platform {

class AppReceipt {
public:
    virtual ~AppReceipt() = default;
    // The receipt's bytes; none when there is no receipt file.
    virtual std::optional<std::vector<std::uint8_t>> receiptData() const = 0;
    virtual bool isSandboxReceipt() const = 0;
};

class NoAppReceipt final : public AppReceipt {
public:
    std::optional<std::vector<std::uint8_t>> receiptData() const override { return std::nullopt; }
    bool isSandboxReceipt() const override { return false; }
};

class InMemoryAppReceipt final : public AppReceipt {
public:
    InMemoryAppReceipt() = default;
    explicit InMemoryAppReceipt(std::vector<std::uint8_t> bytes, bool sandbox = false);
    void setReceipt(std::optional<std::vector<std::uint8_t>> bytes, bool sandbox = false);
    std::optional<std::vector<std::uint8_t>> receiptData() const override;
    bool isSandboxReceipt() const override;

private:
    mutable std::mutex mutex_;
    std::optional<std::vector<std::uint8_t>> bytes_;
    bool sandbox_ = false;
};

}  // namespace platform
