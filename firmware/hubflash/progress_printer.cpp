#include "progress_printer.h"

namespace hubflash {

void ProgressPrinter::line(const std::string& text) {
    if (broken_) return;
    if (inPlace_) {
        // Clear to the end of the line: a shorter text must not leave a tail.
        std::fprintf(out_, "\r%s\033[K", text.c_str());
        open_ = true;
    } else {
        std::fprintf(out_, "%s\n", text.c_str());
    }
    broken_ = std::fflush(out_) != 0 || std::ferror(out_);
}

void ProgressPrinter::operator()(const firmware::UpdateProgress& progress) {
    using firmware::UpdateStep;
    const bool newStep = !stepShown_ || progress.step != step_;
    step_ = progress.step;
    stepShown_ = true;
    if (progress.step == UpdateStep::Done) return;
    if (progress.step != UpdateStep::Writing) {
        if (newStep) line(std::string(firmware::stepName(progress.step)) + "...");
        return;
    }
    const int percent = progress.total ? static_cast<int>(progress.written * 100 / progress.total) : 100;
    if (!inPlace_) {
        if (percent / 10 == lastTenth_) return;
        lastTenth_ = percent / 10;
    }
    line("Writing " + std::to_string(percent) + "% (" + std::to_string(progress.written) +
         " of " + std::to_string(progress.total) + " bytes)");
}

void ProgressPrinter::finish() {
    if (open_ && !broken_) std::fputc('\n', out_);
    open_ = false;
    std::fflush(out_);
}

}  // namespace hubflash
