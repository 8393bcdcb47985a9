#pragma once

#include <string>

namespace tarnflow::phonesim {

// The phone's end of a pseudo-terminal: the master, raw and non-blocking. The tool opens the
// slave. The phone keeps a slave descriptor of its own open, so the master never reads as hung
// up while the tool has its port closed; closing both is a pulled cable for the tool.
class PseudoTerminal {
  public:
    PseudoTerminal() = default;
    ~PseudoTerminal() { Close(); }
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    bool Open(std::string& error);
    void Close();

    int MasterFd() const { return master_; }
    const std::string& SlavePath() const { return slavePath_; }

  private:
    int master_ = -1;
    int heldSlave_ = -1;
    std::string slavePath_;
};

}  // namespace tarnflow::phonesim
