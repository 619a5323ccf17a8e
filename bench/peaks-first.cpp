// Times the peak reader as the window runs it: the first picture (the progress call with
// the coarse overview) and the whole read, and reports the process's peak memory.
// usage: keeptime_peaks_first FILE [VALUES]   (VALUES: the bound on peak values, default 2,000,000)
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "recording/BWFParser.hpp"
#include "audio/Peaks.hpp"

int main(int argc, char** argv) {
    using namespace keeptime;
    using Clock = std::chrono::steady_clock;
    if (argc < 2) return std::fprintf(stderr, "usage: %s FILE [VALUES]\n", argv[0]), 2;
    try {
        const auto began = Clock::now();
        auto file = std::make_shared<const FileHandle>(FileHandle::openForReading(argv[1]));
        const BWFParser parser(*file);
        const PcmReader reader(file, parser);
        const std::int64_t values = argc > 2 ? std::atoll(argv[2]) : 2'000'000;
        PeakReader peaks(reader, framesPerBucketFor(reader.frames(), reader.format().channels, values));
        double first = -1;
        std::int64_t firstExact = -1;
        const Peaks done = peaks.run([&](const Peaks& p) {
            if (first < 0) first = std::chrono::duration<double>(Clock::now() - began).count(), firstExact = p.exactBuckets;
        });
        const double total = std::chrono::duration<double>(Clock::now() - began).count();
        rusage usage{};
        ::getrusage(RUSAGE_SELF, &usage);
        std::printf("first_picture_s %.6f\nfirst_picture_exact_buckets %lld\ntotal_s %.6f\nbuckets %lld\n"
                    "frames_per_bucket %lld\npeak_kib %ld\n",
                    first, static_cast<long long>(firstExact), total, static_cast<long long>(done.buckets()),
                    static_cast<long long>(done.framesPerBucket), usage.ru_maxrss);
    } catch (const BWFError& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 2;
    }
}
