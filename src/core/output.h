#pragma once

#include <exception>
#include <string>
#include <string_view>

#include "core/exit_status.h"

namespace tovlane {

// Text made safe for a terminal. Every control character (C0, DEL, C1), the
// invisible characters that hide, break or reorder a line (Unicode's format
// characters, the bidirectional controls among them, and its line and
// paragraph separators) and every byte that is not UTF-8 is shown as its
// bytes in hexadecimal between ⟦ and ⟧ (ESC as ⟦1B⟧, U+0085 as ⟦C2 85⟧),
// brackets SakuraScript never uses, so nothing from a file, a server or the
// command line can move the cursor, retitle the window or rearrange a line.
// The result is valid UTF-8.
std::string visibleText(std::string_view text);

// Lines for one standard stream, each made visible and ended with "\n",
// written with write(2) in large pieces.
class LineWriter {
  public:
    explicit LineWriter(int fd) : fd_(fd), exceptionsAtStart_(std::uncaught_exceptions()) {}
    LineWriter(const LineWriter&) = delete;
    LineWriter& operator=(const LineWriter&) = delete;
    ~LineWriter();

    void line(std::string_view text);
    // A piece of the current line, made visible, and the line's end: a long
    // line goes out piece by piece, never held whole. Pieces end on whole
    // characters.
    void part(std::string_view text);
    void endLine();
    // Writes what is pending; 0 when everything arrived, else the errno of
    // the first write that failed.
    int finish();

  private:
    void flush();

    int fd_;
    int exceptionsAtStart_;
    int error_ = 0;
    std::string pending_;
};

// Writes what out holds; everything written to stdout must arrive, so a full
// disk or a closed stdout is an error (OutputUnwritable), not a quiet success.
Outcome<> finishOutput(LineWriter& out);

// One message for the user: "tovlane: " and the line, on stderr.
void tell(std::string_view message);

// Puts /dev/null, opened for reading only, on any of the standard streams
// that is closed: files the program opens later never take their place (a
// message must not land in a socket or a settings file), and a write to a
// closed stdout still fails as it should. A reader that goes away makes a
// write fail rather than end the program.
void prepareStandardStreams();

}  // namespace tovlane
