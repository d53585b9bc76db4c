// A TCP receive buffer: the bytes a socket delivered that the script has not flushed yet.
// Scripts read it whole (tcp_srv_read, tcp_read) and consume it from the front
// (tcp_srv_flush(n), tcp_flush(n)), so the front is dropped by moving an offset rather than
// by shifting the bytes; the storage is compacted once the dead front outweighs the data.
//
// A peer can send faster than a script reads. The buffer therefore holds at most `capacity`
// bytes and keeps the newest ones, dropping from the front, as a serial receive buffer does
// when an instrument floods it.
//
// Threading: owned by the TCP subsystem, user-interface thread only. Errors: none; every
// byte (zero included) is kept as it came.
#pragma once

#include "base/limits.h"

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

namespace nv {

class RecvBuffer {
  public:
    explicit RecvBuffer(size_t capacity) : capacity_(capacity) {}

    std::string_view view() const { return std::string_view(data_).substr(head_); }
    size_t size() const { return data_.size() - head_; }
    bool empty() const { return size() == 0; }
    size_t capacity() const { return capacity_; }

    void clear() {
        data_.clear();
        head_ = 0;
    }

    // Appends, then drops the oldest bytes beyond the capacity.
    void append(std::string_view bytes) {
        if (bytes.size() >= capacity_) {
            data_.assign(bytes.substr(bytes.size() - capacity_));
            head_ = 0;
            return;
        }
        data_.append(bytes);
        if (size() > capacity_) head_ = data_.size() - capacity_;
        compactIfWasteful();
    }

    // Removes up to n bytes from the front; n <= 0 removes nothing.
    void dropFront(long long n) {
        if (n <= 0) return;
        if (static_cast<unsigned long long>(n) >= size()) {
            clear();
            return;
        }
        head_ += static_cast<size_t>(n);
        compactIfWasteful();
    }

  private:
    void compactIfWasteful() {
        if (head_ > 4096 && head_ > size()) {
            data_.erase(0, head_);
            head_ = 0;
        }
    }

    std::string data_;
    size_t head_ = 0;
    size_t capacity_;
};

// The client connection's receive rule: the data is taken in chunks of at most kClientChunk
// bytes, and each chunk is kept only up to its first zero byte (scripts written for this tool
// rely on that cut).
inline constexpr size_t kClientChunk = limits::kTcpClientChunk;
inline void appendCutAtZero(RecvBuffer& buffer, std::string_view data) {
    // One scan for zero bytes over the whole data: the chunks before the first zero are kept
    // whole, so they go in with a single append (the buffer keeps the newest bytes either
    // way); only a chunk holding a zero is cut, and the scan goes on at the next chunk.
    size_t at = 0; // always the start of a chunk
    while (at < data.size()) {
        const void* zero = std::memchr(data.data() + at, 0, data.size() - at);
        if (!zero) {
            buffer.append(data.substr(at));
            return;
        }
        const size_t z = static_cast<size_t>(static_cast<const char*>(zero) - data.data());
        buffer.append(data.substr(at, z - at));
        at = z - z % kClientChunk + kClientChunk;
    }
}

} // namespace nv
