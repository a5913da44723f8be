// A JobOwner for callers that drive a conversion on their own thread with
// ConversionJob::RunToCompletion (the command line, benchmarks): it keeps
// the PADS item counter and the outcome, and shows nothing.
#pragma once

#include "job/ConversionJob.h"

#include <cstdint>
#include <optional>
#include <string>

namespace rastrace {

class SimpleOwner : public JobOwner {
public:
    void Wake() override {}  // RunToCompletion waits on the queue itself
    void ProgressStart(int64_t /*maximum*/) override {}
    void ProgressStep(int64_t /*steps*/) override {}
    int32_t NextPolyNumbers(int32_t count) override {
        const int32_t first = polyCount_ + 1;
        polyCount_ += count;
        return first;
    }
    void ConversionFinished(const std::optional<std::string>& error) override { error_ = error; }

    // The error the last conversion ended with, if any.
    const std::optional<std::string>& Failure() const { return error_; }
    int32_t PolyCount() const { return polyCount_; }

private:
    int32_t polyCount_ = 0;
    std::optional<std::string> error_;
};

}  // namespace rastrace
