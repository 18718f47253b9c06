// Failing file I/O for the fault tests: puts its own FsIoHooks in force,
// counts every call a save makes through them (creating the temporary,
// opening, writing, flushing, closing, renaming) and makes call number
// `failAt` fail:
//   Eio       that call fails with EIO (a write writes nothing), the calls
//             after it succeed;
//   FullDisk  the disk fills at that call: a write writes half of its bytes,
//             every later write fails with ENOSPC; any other call fails with
//             ENOSPC.
// A failing close closes the descriptor all the same, as Linux does.
//
//   { FailingIo io(0, FailingIo::Eio); save(); calls = io.calls(); }  // a dry run
//   for (n = 1..calls) { FailingIo io(n, FailingIo::FullDisk); save(); ... }
#pragma once

namespace zeb::test {

class FailingIo {
public:
    enum Fault { Eio, FullDisk };

    FailingIo(unsigned failAt, Fault fault);
    // The system calls again.
    ~FailingIo();
    FailingIo(const FailingIo&) = delete;
    FailingIo& operator=(const FailingIo&) = delete;

    unsigned calls() const;
    // Whether call number failAt was reached (and failed).
    bool fired() const;
};

} // namespace zeb::test
