// hubflash's progress output on standard error: one line redrawn in place on
// a terminal, otherwise a line per step and per 10 % written.
#pragma once

#include <cstdio>
#include <string>

#include "firmware/isp_session.h"

namespace hubflash {

class ProgressPrinter {
public:
    // `out` is written to only; `inPlace` redraws one line with CR. After a
    // write failed (a closed pipe or terminal) nothing more is written.
    ProgressPrinter(std::FILE* out, bool inPlace) : out_(out), inPlace_(inPlace) {}

    void operator()(const firmware::UpdateProgress& progress);

    // Ends a line left open by in-place drawing.
    void finish();

private:
    void line(const std::string& text);

    std::FILE* out_;
    bool inPlace_;
    bool open_ = false;
    bool broken_ = false;
    bool stepShown_ = false;
    firmware::UpdateStep step_ = firmware::UpdateStep::EnteringLoader;
    int lastTenth_ = -1;
};

}  // namespace hubflash
