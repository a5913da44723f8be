// SPDX-License-Identifier: GPL-3.0-or-later
// A JobOwner for callers that drive a conversion on their own thread with
// ConversionJob::RunToCompletion (the command line, benchmarks): it keeps
// the PADS item counter and the outcome, and shows nothing.
#pragma once

#include "job/ConversionJob.h"
#include "job/ItemCounter.h"

#include <cstdint>
#include <optional>
#include <string>

namespace rastrace {

class SimpleOwner : public JobOwner {
public:
    void Wake() override {}  // RunToCompletion waits on the queue itself
    void ProgressStart(int64_t /*maximum*/) override {}
    void ProgressStep(int64_t /*steps*/) override {}
    int32_t NextPolyNumbers(int32_t count) override { return polyCount_.Take(count); }
    void ConversionFinished(const std::optional<std::string>& error) override { error_ = error; }

    // The error the last conversion ended with, if any.
    const std::optional<std::string>& Failure() const { return error_; }
    int32_t PolyCount() const { return polyCount_.Count(); }

private:
    ItemCounter polyCount_;
    std::optional<std::string> error_;
};

}  // namespace rastrace
