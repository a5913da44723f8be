// rastrace-cli: converts one BMP scan into a PCB or PADS track file with the
// same core as the window, or lists the colours of a scan.
#include "cli/CliOptions.h"
#include "common/Error.h"
#include "common/IntText.h"
#include "common/MessageText.h"
#include "job/ConversionJob.h"
#include "job/SimpleOwner.h"
#include "raster/BmpReader.h"
#include "raster/Mirror.h"
#include "trace/ColorCount.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <new>
#include <string>
#include <unordered_set>

using namespace rastrace;

namespace {

// The owner of the command line's conversion: the main thread drains the
// job's queue; progress goes to a bar on standard error when it is a terminal.
class CliOwner : public SimpleOwner {
public:
    explicit CliOwner(bool showProgress) : showProgress_(showProgress) {}

    void ProgressStart(int64_t maximum) override {
        maximum_ = maximum;
        position_ = 0;
        shown_ = -1;
        Draw();
    }
    void ProgressStep(int64_t steps) override {
        position_ += steps;
        Draw();
    }
    void ConversionFinished(const std::optional<std::string>& error) override {
        if (showProgress_ && shown_ >= 0) std::fputs("\n", stderr);
        SimpleOwner::ConversionFinished(error);
    }

private:
    void Draw() {
        if (!showProgress_ || maximum_ <= 0) return;
        const int percent = static_cast<int>(std::min<int64_t>(position_, maximum_) * 100 / maximum_);
        if (percent == shown_) return;
        shown_ = percent;
        constexpr int kWidth = 40;
        const int filled = percent * kWidth / 100;
        std::fprintf(stderr, "\r[%.*s%*s] %3d%%", filled, "########################################",
                     kWidth - filled, "", percent);
        std::fflush(stderr);
    }

    bool showProgress_;
    int64_t maximum_ = 0;
    int64_t position_ = 0;
    int shown_ = -1;
};

Raster LoadPicture(const cli::CliOptions& options) {
    Raster raster = ReadBitmapFile(options.input);
    for (char m : options.mirrors) {
        if (m == 'h') {
            MirrorHorizontal(raster);
        } else {
            MirrorVertical(raster);
        }
    }
    return raster;
}

int ListColors(const cli::CliOptions& options) {
    const Raster raster = LoadPicture(options);
    std::string text;
    for (const ColorCount& c : CountColors(raster)) {
        text += IntToStr(c.color);
        text += ' ';
        text += IntToStr(static_cast<int64_t>(c.pixels));
        text += '\n';
    }
    std::fwrite(text.data(), 1, text.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

int Convert(const cli::CliOptions& options) {
    ConversionRequest request;
    request.format = *options.format;
    request.xresText = options.xres;
    request.yresText = options.yres;
    request.widthText = options.width;
    request.layerNumber = options.layer;
    request.groupByColor = true;
    // The same colour given twice (255, $FF, 0xFF) is traced once.
    std::unordered_set<int32_t> seen;
    for (const std::string& text : options.colors) {
        const int32_t color = StrToInt(text);
        if (seen.insert(color).second) request.colorTexts.push_back(IntToStr(color));
    }

    auto raster = std::make_shared<const Raster>(LoadPicture(options));
    request.outputPath = options.output;  // replaced whole, or left as it was

    CliOwner owner(!options.quiet && isatty(STDERR_FILENO) != 0);
    ConversionJob job(owner, raster);
    job.Start(request);
    job.RunToCompletion();
    if (owner.Failure()) throw Error(*owner.Failure());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    cli::CliOptions options;
    try {
        options = cli::ParseCommandLine(argc, argv);
    } catch (const cli::UsageError& e) {
        std::cerr << "rastrace-cli: " << e.message << "\n\n" << cli::UsageText();
        return 2;
    }
    if (options.help) {
        std::cout << cli::UsageText();
        return 0;
    }
    if (options.version) {
        std::cout << "rastrace-cli " << RASTRACE_VERSION << "\n";
        return 0;
    }
    try {
        return options.listColors ? ListColors(options) : Convert(options);
    } catch (const std::bad_alloc&) {
        std::cerr << ShownText("Out of memory") << "\n";
    } catch (const std::exception& e) {
        std::cerr << ShownText(e.what()) << "\n";
    }
    return 1;
}
