#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace vek {

// One checked frame taken out of the byte stream.
struct StreamFrame {
    uint8_t address = 0;
    uint8_t type = 0;
    std::vector<uint8_t> payload;
};

// Cuts a byte stream into frames, whatever the reads split or join: bytes before a start byte are
// dropped, and a start byte whose frame fails its checks is skipped so that the search resumes
// right after it. Frames for another receiver are dropped too.
class FrameAssembler {
  public:
    explicit FrameAssembler(uint8_t ownAddress) : ownAddress_(ownAddress) {}

    void feed(std::span<const uint8_t> bytes);
    std::optional<StreamFrame> next();

    // Bytes held for a frame that is not complete yet.
    bool holdsPartial() const { return !buffer_.empty(); }
    // Gives up the held partial frame: a frame whose rest never came is noise.
    void skipPartial();
    void clear() { buffer_.clear(); }

    std::size_t bytesDropped() const { return dropped_; }

  private:
    void drop(std::size_t count);

    uint8_t ownAddress_;
    std::vector<uint8_t> buffer_;
    std::size_t dropped_ = 0;
};

}  // namespace vek
