// What lantoric-check prints, block by block: each block reaches standard
// output at once, flushed, also into a pipe or a file (a watch's log), and is
// kept for the report file when one was asked for.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

class BlockOutput {
  public:
    // keep: keep the text for a report; show: print it (not when the output
    // is one JSON document).
    BlockOutput(bool keep, bool show) : keep_(keep), show_(show) {}

    // Runs print on a stream whose text then goes to standard output.
    void block(const std::function<void(std::FILE*)>& print);
    // Everything printed so far, when kept.
    const std::string& kept() const { return kept_; }

  private:
    bool keep_;
    bool show_;
    std::string kept_;
};

// Whether standard output takes no more: a write to it failed, or it is a
// pipe or socket whose reader has gone (or a terminal that hung up). A run
// that prints as it goes then ends rather than go on unseen.
bool output_closed();
