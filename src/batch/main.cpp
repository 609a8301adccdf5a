// tessera-batch: the whole job of the program without a window. Parse, open, run: the job and
// every check of it live in job/; this file only speaks the command line's language.
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bands/gdalsupport.h"
#include "job/choices.h"
#include "job/job.h"
#include "support/temporaries.h"

namespace {

// Prints "tessera-batch: " and the text on one line to standard error; answers the exit status
// of the refusal's kind.
int ExitWith(tessera::job::Refusal kind, const std::string& text) {
    std::fprintf(stderr, "tessera-batch: %s\n", tessera::job::OneLine(text).c_str());
    return tessera::job::ExitStatusOf(kind);
}

// The stages on standard error: on a terminal one line, rewritten at every stage and ended by
// the last; elsewhere (a log, a pipe) one plain line a stage.
class StandardError : public tessera::job::StageSink {
  public:
    void Say(const std::string& text) override {
        if (terminal_) {
            std::fprintf(stderr, "\rtessera-batch: %s\033[K", text.c_str());
            std::fflush(stderr);
            lineOpen_ = true;
        } else {
            std::fprintf(stderr, "tessera-batch: %s\n", text.c_str());
        }
    }
    void EndLine() override {
        if (lineOpen_) std::fputc('\n', stderr);
        lineOpen_ = false;
    }

  private:
    bool terminal_ = ::isatty(2) == 1;
    bool lineOpen_ = false;
};

}  // namespace

int main(int argc, char** argv) {
    // Ctrl-C or a kill while files are written leaves no temporary file behind, and every
    // result file not yet put in place as it was; the tool then ends with 130 (SIGINT) or 143
    // (SIGTERM).
    tessera::RemoveTemporariesOnInterrupt();
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const tessera::Result<tessera::job::Options> options = tessera::job::ParseOptions(arguments);
    if (!options) return ExitWith(tessera::job::Refusal::Usage, options.message);
    if (options.value->help) {
        std::fputs(tessera::job::UsageText().c_str(), stdout);
        return 0;
    }
    if (options.value->describe) {
        std::fputs(tessera::job::DescriptionJson().c_str(), stdout);
        return 0;
    }
    StandardError stages;
    const tessera::job::JobOutcome outcome = tessera::job::Run(*options.value, &stages);
    tessera::EndGdal();
    if (!outcome.Done()) return ExitWith(outcome.kind, outcome.message);
    return 0;
}
