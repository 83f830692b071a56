#pragma once
// Paces one direction of the line: N baud carry N/10 bytes a second (start, eight data bits and
// stop). The line is busy until the last byte granted has gone; a short burst window lets a few
// bytes pass per system call instead of one, without changing the long-run rate.

#include <cstddef>
#include <cstdint>

namespace devsim
{

class Pacer
{
  public:
    // 0 baud means an unpaced line.
    explicit Pacer(uint32_t baud);

    bool Paced() const { return byteNs_ > 0; }
    // Bytes that may pass at `nowNs`; unlimited (SIZE_MAX) on an unpaced line.
    std::size_t Allowance(int64_t nowNs) const;
    // Records that `count` bytes passed at `nowNs`.
    void Consume(std::size_t count, int64_t nowNs);
    // Nanoseconds from `nowNs` until at least one byte may pass.
    int64_t WaitNs(int64_t nowNs) const;

    // How far ahead of the line a burst may run.
    static constexpr int64_t BurstNs = 10'000'000;

  private:
    double byteNs_;
    double busyUntilNs_ = 0;
};

} // namespace devsim
