#pragma once

// Brings PCM from a file to the capture format, piece by piece.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "components/Resampler.h"
#include "platform/win32.h"

namespace kv::components {

// From any number of channels of 8 or 16 bits at 4000 to 384000 Hz to 1 or
// 2 channels of 8 or 16 bits at 8000 to 192000 Hz. 8-bit samples are
// unsigned with the 16-bit value in their high byte, both ways. Two channels
// stay two; otherwise the channels become one by their mean, rounded down
// (so equal channels give exactly the mono samples), which goes to each
// channel of the output. Rates are converted by Resampler, each channel on
// its own.
class PcmConverter {
public:
    // False for formats it does not take.
    bool init(const WAVEFORMATEX& from, const WAVEFORMATEX& to);
    // The formats agree: the bytes need no work at all.
    bool passThrough() const { return m_passThrough; }

    // Appends what `bytes` of input (whole frames) become.
    void convert(const BYTE* in, std::size_t bytes, std::vector<BYTE>& out);
    // The input has ended: appends what the rate conversion still holds.
    void finish(std::vector<BYTE>& out);

private:
    void emit(std::vector<BYTE>& out);

    WAVEFORMATEX m_from{}, m_to{};
    bool m_passThrough = false;
    int m_lanes = 1;                     // channels carried through the rate conversion
    std::optional<Resampler> m_rate[2];  // one per lane, when the rates differ
    std::vector<std::int16_t> m_lane[2], m_done[2];
};

}  // namespace kv::components
