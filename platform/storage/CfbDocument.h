// One open compound file: its tree, where it lives (a file or a lock-bytes
// object), and the lock that guards both.
//
// Thread safety: every member is used under `mutex` (recursive, so that a
// copy within one document may call back into it).
// Lifetime: the root storage object owns the document's open state. When it
// goes, the document is saved (if written to) and closed; objects still open
// on it then answer STG_E_REVERTED.
#pragma once

#include "platform/com/ComPtr.h"
#include "platform/storage/CfbNode.h"

#include <memory>
#include <mutex>
#include <string>

namespace zeb {

class CfbDocument {
public:
    CfbDocument() = default;
    ~CfbDocument();
    CfbDocument(const CfbDocument&) = delete;
    CfbDocument& operator=(const CfbDocument&) = delete;

    // Opens (create: creates or replaces, as the STGM_ flags say) a file.
    HRESULT openFile(const std::string& path, DWORD mode, bool create) noexcept;
    // Opens the compound file in lockBytes (create: a new, empty one).
    HRESULT openLockBytes(ILockBytes* lockBytes, DWORD mode, bool create) noexcept;

    // Writes the tree (when changed since the last save, or `force`). On a
    // file: a new file beside it, flushed, then renamed over it.
    HRESULT save(bool force = false) noexcept;
    // Releases the file or lock-bytes; later calls on objects answer STG_E_REVERTED.
    void close() noexcept;
    // The root storage goes: saves what changed (unless the file is to be
    // deleted) and closes.
    void release() noexcept {
        m_closing = true;
        (void)save();
        close();
    }

    // REQUIRES: mutex held, for all below.
    bool closed() const noexcept { return m_closed; }
    bool writable() const noexcept { return m_writable; }
    void touch() noexcept { m_dirty = true; }
    const std::shared_ptr<CfbNode>& root() const noexcept { return m_root; }
    // The file's path as a wide name (empty on lock-bytes).
    std::u16string displayName() const;

    std::recursive_mutex mutex;

private:
    HRESULT loadImage(std::shared_ptr<const BYTE[]> image, size_t size) noexcept;
    HRESULT replaceFile(const std::vector<BYTE>& image) noexcept;
    HRESULT lockFile(int fd) noexcept;
    void removeStaleTemporaries() noexcept;

    std::shared_ptr<CfbNode> m_root;
    ComPtr<ILockBytes> m_lockBytes;
    std::string m_path;
    int m_fd = -1;
    int m_lockKind = 0; // LOCK_SH, LOCK_EX, or 0 (no lock)
    DWORD m_mode = 0;
    bool m_writable = false;
    bool m_dirty = false;
    bool m_closed = false;
    bool m_deleteOnRelease = false; // STGM_DELETEONRELEASE: unlink at close
    bool m_closing = false;         // the root is going: see release()
};

// Access checks on STGM_ flags.
constexpr bool stgmWrites(DWORD mode) noexcept {
    return (mode & 3) != STGM_READ;
}
// STG_E_INVALIDFLAG for flag combinations that make no sense, else S_OK.
HRESULT stgmCheck(DWORD mode) noexcept;

} // namespace zeb
