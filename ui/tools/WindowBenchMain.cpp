// SPDX-License-Identifier: GPL-3.0-or-later
// rastrace-window-bench: times the main window on a big scan, for
// scripts/bench.sh. It builds the real window with every dialog answered by
// the tool, shows it, and measures three things a user waits for:
//   1. Open: the Open command (read, hand the raster to the view, first
//      paint of the picture), run --runs times over the same window, with
//      the process's peak memory of the first Open and of the re-opens;
//   2. Scroll: ScrollBox1 moved through the picture, down the vertical bar
//      and then along the horizontal one, each step timed to the end of
//      its paint (a step over 50 ms is a stall);
//   3. Convert: the colours picked with Ctrl and the left button as a user
//      would, then the Convert command, timed from the click to the notice;
//      then the same conversion on the same picture without the window.
// Results are printed on standard output as "key=value" lines (times in
// ms, memory in kB and in MB of 10^6 bytes); progress and message boxes go
// to standard error.
//
// The one fact a caller must know: peak memory is the process's VmHWM,
// reset through /proc/self/clear_refs before each measured step; where the
// kernel refuses the reset, peak_reset=0 is printed and every peak is the
// process's peak so far.
//
// Usage: rastrace-window-bench FILE [--colors C1,C2..] [--xres N --yres N]
//          [--format pcb|asc] [--runs N] [--scroll-steps N] [--cold] [--out PATH]
// --cold skips warming the memory before each Open (see warmMemory).
#include "common/IntText.h"
#include "job/ConversionJob.h"
#include "job/SimpleOwner.h"
#include "ui/AppLook.h"
#include "ui/DialogService.h"
#include "ui/URtcFrmMain.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include <sys/mman.h>

namespace {

using namespace rastrace;
using namespace rastrace::ui;
using Clock = std::chrono::steady_clock;

constexpr double kStallMs = 50.0;
constexpr int kConversionTimeoutMs = 10 * 60 * 1000;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

struct Options {
    QString file;
    std::vector<std::string> colors;  // integer text, as the colour list holds it
    QString xres = QStringLiteral("600");
    QString yres = QStringLiteral("600");
    bool pcb = true;
    int runs = 5;
    int scrollSteps = 200;
    bool warm = true;  // warmMemory before each timed Open
    QString out;  // empty: a file in the tool's temporary folder
};

const char* const kUsage =
    "usage: rastrace-window-bench FILE [--colors C1,C2..] [--xres N --yres N] [--format pcb|asc]\n"
    "                             [--runs N] [--scroll-steps N] [--cold] [--out PATH]\n";

// The options, or nullopt after printing why they are not usable.
std::optional<Options> parseOptions(const QStringList& args) {
    Options options;
    auto positive = [](const QString& text, int& value) {
        bool ok = false;
        value = text.toInt(&ok);
        return ok && value > 0;
    };
    for (int i = 1; i < args.size(); ++i) {
        const QString& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (arg.startsWith(QStringLiteral("--")) && arg != QStringLiteral("--cold") && !hasValue) {
            std::fprintf(stderr, "rastrace-window-bench: %s needs a value\n", arg.toLocal8Bit().constData());
            return std::nullopt;
        }
        if (arg == QStringLiteral("--colors")) {
            for (const QString& text : args[++i].split(u',', Qt::SkipEmptyParts)) {
                int32_t color = 0;
                if (!TryStrToInt(text.toStdString(), color)) {
                    std::fprintf(stderr, "rastrace-window-bench: not a colour: %s\n", text.toLocal8Bit().constData());
                    return std::nullopt;
                }
                options.colors.push_back(IntToStr(color));
            }
        } else if (arg == QStringLiteral("--xres")) {
            options.xres = args[++i];
        } else if (arg == QStringLiteral("--yres")) {
            options.yres = args[++i];
        } else if (arg == QStringLiteral("--format")) {
            const QString format = args[++i];
            if (format != QStringLiteral("pcb") && format != QStringLiteral("asc")) return std::nullopt;
            options.pcb = format == QStringLiteral("pcb");
        } else if (arg == QStringLiteral("--runs")) {
            if (!positive(args[++i], options.runs)) return std::nullopt;
        } else if (arg == QStringLiteral("--scroll-steps")) {
            if (!positive(args[++i], options.scrollSteps) || options.scrollSteps < 2) return std::nullopt;
        } else if (arg == QStringLiteral("--cold")) {
            options.warm = false;
        } else if (arg == QStringLiteral("--out")) {
            options.out = args[++i];
        } else if (arg.startsWith(u'-') || !options.file.isEmpty()) {
            return std::nullopt;
        } else {
            options.file = arg;
        }
    }
    if (options.file.isEmpty()) return std::nullopt;
    return options;
}

// Open answers the picture, Save the output path; message boxes are
// answered at once, recorded, and end the event loop waiting for them.
class ScriptedDialogs : public DialogService {
public:
    ScriptedDialogs(QString picture, QString output) : picture_(std::move(picture)), output_(std::move(output)) {}

    std::optional<FileChoice> openPicture(QWidget*, const QStringList& filters, const FileChoice&) override {
        return FileChoice{picture_, filters.value(1)};
    }
    std::optional<QString> saveFile(QWidget*, const QString&, const QString&, const QString&) override {
        return output_;
    }
    void showError(QWidget*, const QString& text) override {
        std::fprintf(stderr, "error box: %s\n", text.toUtf8().constData());
        errors.append(text);
        answered();
    }
    void showNotice(QWidget*, const QString& text, const QString& caption) override {
        notices.append(caption + u'|' + text);
        answered();
    }
    void execDialog(QDialog&) override {}

    int messages() const { return static_cast<int>(errors.size() + notices.size()); }

    QStringList errors;
    QStringList notices;
    Clock::time_point lastMessageAt{};
    QEventLoop* waiting = nullptr;  // quit when a message box arrives

private:
    void answered() {
        lastMessageAt = Clock::now();
        if (waiting != nullptr) waiting->quit();
    }

    QString picture_;
    QString output_;
};

// Counts the paint events a widget receives. Must go before the widget.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget* target) { target->installEventFilter(this); }
    int paints() const { return paints_; }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) ++paints_;
        return false;
    }

private:
    int paints_ = 0;
};


// ---- Memory -------------------------------------------------------------

// A "Name:   N kB" field of /proc/self/status; 0 when it cannot be read.
long statusKb(const char* name) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const size_t length = std::strlen(name);
    while (std::getline(status, line)) {
        if (line.compare(0, length, name) == 0 && line.size() > length && line[length] == ':') {
            return std::strtol(line.c_str() + length + 1, nullptr, 10);
        }
    }
    return 0;
}

long peakKb() { return statusKb("VmHWM"); }

// Touches bytes of fresh memory, laid out as a raster's (huge pages), and
// gives it back. On a virtual machine the host may take back memory the
// guest has left unused for a second or so; the first touch of such memory
// then costs many times the read itself (about 2 ms per MB on the machine
// this was written on, against 0.1). Command-line runs timed one after the
// other always find their predecessor's memory warm, so each timed Open
// is given the same start.
void warmMemory(size_t bytes) {
    void* block = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED) return;
    madvise(block, bytes, MADV_HUGEPAGE);
    auto* bytesAt = static_cast<volatile unsigned char*>(block);
    for (size_t at = 0; at < bytes; at += 4096) bytesAt[at] = 1;
    munmap(block, bytes);
}

// Starts a new peak at the current resident size. False when the kernel
// does not allow it; peakKb then keeps the process's peak so far.
bool resetPeak() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.flush();
    return static_cast<bool>(clear);
}

// ---- Statistics ---------------------------------------------------------

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void printTimes(const char* name, const std::vector<double>& ms) {
    std::printf("%s_ms_median=%.2f\n", name, median(ms));
    std::printf("%s_ms_min=%.2f\n", name, *std::min_element(ms.begin(), ms.end()));
    std::printf("%s_ms_max=%.2f\n", name, *std::max_element(ms.begin(), ms.end()));
}

void printMemory(const char* name, long kb) {
    std::printf("%s_kb=%ld\n%s_mb=%.1f\n", name, kb, name, kb * 1024.0 / 1e6);
}

// ---- Driving the window -------------------------------------------------

void sendMouse(QWidget* target, QEvent::Type type, Qt::MouseButton button, Qt::KeyboardModifiers mods, QPoint at) {
    QMouseEvent event(type, QPointF(at), target->mapToGlobal(QPointF(at)), button,
                      type == QEvent::MouseMove ? Qt::NoButton : Qt::MouseButtons(button), mods);
    QApplication::sendEvent(target, &event);
}

// Runs the posted events once (layout, update requests); when view has not
// been painted since counter stood at paintsBefore, paints it directly.
// Returns false when the direct paint was needed.
bool settlePaint(QWidget* view, const PaintCounter& counter, int paintsBefore) {
    QCoreApplication::processEvents();
    if (counter.paints() > paintsBefore) return true;
    view->repaint();
    return false;
}

// The first pixel of raster in colour packed, top row first.
std::optional<QPoint> findColor(const Raster& raster, uint32_t packed) {
    for (int32_t y = 0; y < raster.Height(); ++y) {
        const auto row = raster.RowBytes(y);
        for (int32_t x = 0; x < raster.Width(); ++x) {
            if (PackColor(row.data() + static_cast<size_t>(x) * 3) == packed) return QPoint(x, y);
        }
    }
    return std::nullopt;
}

class WindowBench {
public:
    WindowBench(const Options& options, const QString& settingsPath, const QString& output)
        : options_(options),
          dialogs_(options.file, output),
          window_(dialogs_, settingsPath.toStdString()),
          paints_(window_.Image1) {
        peakResets_ = resetPeak();
    }

    // false: the bench cannot go on (the reason is on standard error).
    bool show();
    bool open();
    void scroll();
    void pickColors();
    bool convert(const QString& output);
    // The same conversion without the window, as the command line runs it
    // on a loaded picture: what the window adds is the difference.
    bool convertWithoutWindow(const QString& output);

private:
    const Options& options_;
    ScriptedDialogs dialogs_;
    TRtcFrmMain window_;
    PaintCounter paints_;
    bool peakResets_ = false;
};

bool WindowBench::show() {
    window_.handle(&TRtcFrmMain::FormCreate);
    window_.resize(800, 600);
    window_.show();
    QCoreApplication::processEvents();
    window_.repaint();
    std::printf("peak_reset=%d\n", peakResets_ ? 1 : 0);
    printMemory("idle_peak", peakKb());
    return dialogs_.errors.isEmpty();
}

bool WindowBench::open() {
    std::vector<double> times;
    long firstPeakKb = 0;
    long reopenPeakKb = 0;
    int forcedPaints = 0;
    const auto fileBytes = static_cast<size_t>(std::max<qint64>(0, QFileInfo(options_.file).size()));
    for (int run = 0; run < options_.runs; ++run) {
        if (options_.warm) warmMemory(fileBytes);
        resetPeak();
        const int paintsBefore = paints_.paints();
        const auto start = Clock::now();
        window_.ToolButton1->click();
        if (!settlePaint(window_.Image1, paints_, paintsBefore)) ++forcedPaints;
        times.push_back(msSince(start));
        if (!dialogs_.errors.isEmpty() || window_.picture() == nullptr) return false;
        if (run == 0) {
            firstPeakKb = peakKb();
        } else {
            reopenPeakKb = std::max(reopenPeakKb, peakKb());
        }
        std::fprintf(stderr, "open %d: %.1f ms\n", run + 1, times.back());
    }
    const Raster& raster = *window_.picture();
    std::printf("picture=%dx%d\n", raster.Width(), raster.Height());
    std::printf("raster_bytes=%zu\nraster_mb=%.1f\n", raster.StorageSize(), raster.StorageSize() / 1e6);
    std::printf("open_warm_memory=%d\n", options_.warm ? 1 : 0);
    std::printf("open_runs=%d\n", options_.runs);
    std::printf("open_ms_first=%.2f\n", times.front());
    printTimes("open", times);
    if (options_.runs > 1) printTimes("reopen", std::vector<double>(times.begin() + 1, times.end()));
    // The first Open holds one picture; a re-open reads the new picture
    // before it lets the shown one go.
    printMemory("open_peak", firstPeakKb);
    std::printf("open_peak_ratio=%.3f\n", firstPeakKb * 1024.0 / static_cast<double>(raster.StorageSize()));
    if (options_.runs > 1) {
        printMemory("reopen_peak", reopenPeakKb);
        std::printf("reopen_peak_ratio=%.3f\n", reopenPeakKb * 1024.0 / static_cast<double>(raster.StorageSize()));
    }
    std::printf("open_forced_paints=%d\n", forcedPaints);
    return true;
}

void WindowBench::scroll() {
    QScrollBar* vertical = window_.ScrollBox1->verticalScrollBar();
    QScrollBar* horizontal = window_.ScrollBox1->horizontalScrollBar();
    vertical->setValue(0);
    horizontal->setValue(0);
    settlePaint(window_.Image1, paints_, paints_.paints());

    // Down the vertical bar at the left edge, then along the horizontal
    // bar at the bottom: every step uncovers picture never shown before.
    const int down = options_.scrollSteps / 2;
    const int across = options_.scrollSteps - down;
    std::vector<double> times;
    int forcedPaints = 0;
    auto step = [&](QScrollBar* bar, int i, int steps) {
        const int paintsBefore = paints_.paints();
        const auto start = Clock::now();
        bar->setValue(static_cast<int>(static_cast<int64_t>(bar->maximum()) * i / steps));
        if (!settlePaint(window_.Image1, paints_, paintsBefore)) ++forcedPaints;
        times.push_back(msSince(start));
    };
    for (int i = 1; i <= down; ++i) step(vertical, i, down);
    for (int i = 1; i <= across; ++i) step(horizontal, i, across);

    const QSize viewport = window_.ScrollBox1->viewport()->size();
    std::printf("scroll_viewport=%dx%d\n", viewport.width(), viewport.height());
    std::printf("scroll_range=%dx%d\n", horizontal->maximum(), vertical->maximum());
    std::printf("scroll_steps=%zu\n", times.size());
    printTimes("scroll", times);
    std::printf("scroll_stalls=%ld\n",
                static_cast<long>(std::count_if(times.begin(), times.end(), [](double ms) { return ms > kStallMs; })));
    std::printf("scroll_forced_paints=%d\n", forcedPaints);
}

void WindowBench::pickColors() {
    if (options_.colors.empty()) return;
    const Raster& raster = *window_.picture();
    int asText = 0;
    for (const std::string& text : options_.colors) {
        const QString entry = QString::fromStdString(text);
        const auto at = findColor(raster, static_cast<uint32_t>(StrToInt(text)));
        if (at) {
            // The pointer rests on the pixel first, so the swatch holds its colour.
            sendMouse(window_.Image1, QEvent::MouseMove, Qt::NoButton, Qt::NoModifier, *at);
            sendMouse(window_.Image1, QEvent::MouseButtonPress, Qt::LeftButton, Qt::ControlModifier, *at);
            sendMouse(window_.Image1, QEvent::MouseButtonRelease, Qt::LeftButton, Qt::ControlModifier, *at);
        } else if (!window_.lstCl->entries().contains(entry)) {
            // No pixel to click: entered as the list's own text instead.
            window_.lstCl->addItem(entry);
            ++asText;
        }
    }
    std::printf("colors=%s\n", window_.lstCl->entries().join(u',').toUtf8().constData());
    std::printf("colors_not_in_picture=%d\n", asText);
}

bool WindowBench::convert(const QString& output) {
    if (window_.lstCl->count() == 0) return true;
    window_.edtx->setText(options_.xres);
    window_.edty->setText(options_.yres);
    (options_.pcb ? window_.RadioButton1 : window_.RadioButton2)->click();

    std::vector<double> times;
    long peak = 0;
    for (int run = 0; run < options_.runs; ++run) {
        resetPeak();
        const int messagesBefore = dialogs_.messages();
        QEventLoop loop;
        QTimer timeout;
        timeout.setSingleShot(true);
        QObject::connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
        const auto start = Clock::now();
        window_.ToolButton2->click();
        if (dialogs_.messages() == messagesBefore) {
            dialogs_.waiting = &loop;
            timeout.start(kConversionTimeoutMs);
            loop.exec();
            dialogs_.waiting = nullptr;
        }
        if (dialogs_.messages() == messagesBefore) {
            std::fprintf(stderr, "rastrace-window-bench: no notice after %d ms\n", kConversionTimeoutMs);
            return false;
        }
        times.push_back(std::chrono::duration<double, std::milli>(dialogs_.lastMessageAt - start).count());
        if (!dialogs_.errors.isEmpty()) return false;
        QCoreApplication::processEvents();  // the window takes its ready state back
        peak = std::max(peak, peakKb());
        std::fprintf(stderr, "convert %d: %.1f ms\n", run + 1, times.back());
    }
    std::printf("convert_runs=%d\n", options_.runs);
    printTimes("convert", times);
    printMemory("convert_peak", peak);
    std::printf("convert_out_bytes=%lld\n", static_cast<long long>(QFileInfo(output).size()));
    return true;
}

bool WindowBench::convertWithoutWindow(const QString& output) {
    if (window_.lstCl->count() == 0) return true;
    ConversionRequest request;
    request.format = options_.pcb ? OutputFormat::Pcb : OutputFormat::Asc;
    request.outputPath = QFile::encodeName(output).toStdString();
    for (const QString& entry : window_.lstCl->entries()) request.colorTexts.push_back(entry.toStdString());
    request.xresText = window_.edtx->text().toStdString();
    request.yresText = window_.edty->text().toStdString();
    request.widthText = window_.edtmil->text().toStdString();
    request.layerNumber = window_.cmbbox->currentIndex() + 1;
    request.groupByColor = true;

    std::vector<double> times;
    for (int run = 0; run < options_.runs; ++run) {
        SimpleOwner owner;
        const auto start = Clock::now();
        ConversionJob job(owner, window_.picture());
        job.Start(request);
        job.RunToCompletion();
        times.push_back(msSince(start));
        if (owner.Failure()) {
            std::fprintf(stderr, "rastrace-window-bench: %s\n", owner.Failure()->c_str());
            return false;
        }
    }
    printTimes("convert_core", times);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    // A benchmark runs without a display; an explicit platform still wins.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const std::optional<Options> options = parseOptions(QCoreApplication::arguments());
    if (!options) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    applyApplicationLook(app);

    // The tool must not write the program's own set.ini.
    QTemporaryDir scratch;
    if (!scratch.isValid()) {
        std::fprintf(stderr, "rastrace-window-bench: no temporary folder\n");
        return 1;
    }
    const QString output = options->out.isEmpty()
                               ? scratch.filePath(options->pcb ? QStringLiteral("out.PCB") : QStringLiteral("out.ASC"))
                               : options->out;
    std::printf("platform=%s\n", QGuiApplication::platformName().toUtf8().constData());

    WindowBench bench(*options, scratch.filePath(QStringLiteral("set.ini")), output);
    if (!bench.show() || !bench.open()) return 1;
    bench.scroll();
    bench.pickColors();
    const bool converted = bench.convert(output) &&
                           bench.convertWithoutWindow(scratch.filePath(QStringLiteral("core-out")));
    std::fflush(stdout);
    return converted ? 0 : 1;
}
