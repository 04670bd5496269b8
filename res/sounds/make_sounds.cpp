// Writes the two sounds of the program as RIFF WAVE files, 8-bit mono PCM:
//   SND_SUCCESS.wav  8000 Hz, 3.5 s: a rising chime that rings out
//   SND_ERROR.wav   11025 Hz, 1 s:  two falling buzzes
// Usage: kestrel_make_sounds OUTPUT_FOLDER

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;

struct Note {
    double dStart;     // seconds
    double dLength;    // seconds
    double dFrequency; // Hz
    double dDecay;     // per second, exponential
    int nHarmonics;    // odd harmonics added, for a buzz; 1 is a pure tone
};

std::vector<double> Render(int nRate, double dSeconds, const std::vector<Note>& notes)
{
    std::vector<double> samples(static_cast<std::size_t>(nRate * dSeconds), 0.0);
    for (const auto& note : notes) {
        const auto first = static_cast<std::size_t>(note.dStart * nRate);
        const auto count = static_cast<std::size_t>(note.dLength * nRate);
        for (std::size_t i = 0; i < count && first + i < samples.size(); ++i) {
            const double t = static_cast<double>(i) / nRate;
            const double attack = std::min(1.0, t / 0.008);
            const double release = std::min(1.0, (note.dLength - t) / 0.02);
            double wave = 0.0;
            for (int h = 1; h <= 2 * note.nHarmonics - 1; h += 2) {
                if (note.dFrequency * h >= nRate / 2.0) break;  // stay below the Nyquist frequency
                wave += std::sin(2 * kPi * note.dFrequency * h * t) / h;
            }
            samples[first + i] += wave * attack * release * std::exp(-note.dDecay * t);
        }
    }
    const double peak = std::max(1e-9, std::abs(*std::max_element(samples.begin(), samples.end(),
                                                                  [](double a, double b) { return std::abs(a) < std::abs(b); })));
    for (double& s : samples) s = s / peak * 0.8;
    return samples;
}

void PutLe(std::vector<uint8_t>& out, uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

bool WriteWave(const std::string& path, int nRate, const std::vector<double>& samples)
{
    const auto dataSize = static_cast<uint32_t>(samples.size());
    const uint32_t pad = dataSize % 2;  // RIFF chunks are word aligned
    std::vector<uint8_t> out;
    out.insert(out.end(), {'R', 'I', 'F', 'F'});
    PutLe(out, 36 + dataSize + pad, 4);
    out.insert(out.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    PutLe(out, 16, 4);
    PutLe(out, 1, 2);  // PCM
    PutLe(out, 1, 2);  // mono
    PutLe(out, static_cast<uint32_t>(nRate), 4);
    PutLe(out, static_cast<uint32_t>(nRate), 4);  // bytes per second
    PutLe(out, 1, 2);  // block align
    PutLe(out, 8, 2);  // bits per sample
    out.insert(out.end(), {'d', 'a', 't', 'a'});
    PutLe(out, dataSize, 4);
    for (const double s : samples) out.push_back(static_cast<uint8_t>(std::clamp(std::lround(128.0 + 127.0 * s), 0L, 255L)));
    if (pad != 0) out.push_back(0x80);
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(out.data()), static_cast<std::streamsize>(out.size()));
    return file.good();
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    // C5, E5, G5, then C6 ringing out.
    const std::vector<Note> chime{{0.00, 0.30, 523.25, 3.0, 1},
                                  {0.25, 0.30, 659.25, 3.0, 1},
                                  {0.50, 0.30, 783.99, 3.0, 1},
                                  {0.75, 2.75, 1046.50, 1.0, 1}};
    const std::vector<Note> buzz{{0.00, 0.42, 330.0, 1.0, 6}, {0.50, 0.48, 220.0, 1.0, 6}};
    const bool ok = WriteWave(folder + "/SND_SUCCESS.wav", 8000, Render(8000, 3.5, chime)) &&
                    WriteWave(folder + "/SND_ERROR.wav", 11025, Render(11025, 1.0, buzz));
    if (!ok) {
        std::fprintf(stderr, "cannot write the sounds into %s\n", folder.c_str());
        return 1;
    }
    return 0;
}
