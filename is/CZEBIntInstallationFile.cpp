// CZEBIntInstallation: the installation file: loading, saving and the
// private storages of the types.
#include "is/CZEBIntInstallation.h"

#include "base/fs/FsSecCl.h"
#include "base/fs/FsSectNames.h"
#include "co/CCoBasisEsSettings.h"
#include "co/CCoSynchronize.h"
#include "h/ResultCodes.h"
#include "platform/win/TextConvert.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <new>
#include <string>

namespace {

constexpr const char* kFile = "is_inst";

// Writes `text` to a new file `path` (never over an existing one).
bool writeNewFile(const std::string& path, const std::string& text) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += size_t(n);
    }
    const bool ok = done == text.size() && ::fsync(fd) == 0;
    ::close(fd);
    if (!ok) ::unlink(path.c_str());
    return ok;
}

// True for the text of a document without any element: nothing, or an XML
// declaration, with white space around.
bool isEmptyDocumentText(std::u16string_view text) {
    auto skipSpace = [&](size_t at) {
        while (at < text.size() &&
               (text[at] == u' ' || text[at] == u'\t' || text[at] == u'\r' || text[at] == u'\n'))
            ++at;
        return at;
    };
    size_t at = skipSpace(0);
    if (text.substr(at, 5) == u"<?xml") {
        const size_t end = text.find(u"?>", at);
        if (end == std::u16string_view::npos) return false;
        at = skipSpace(end + 2);
    }
    return at == text.size();
}

// The refusal of a writer while another one holds the file.
std::string lockedByAnotherWriter(const FsWriterLock::Holder& holder) {
    const std::string who = FsWriterLock::describe(holder);
    return who.empty() ? std::string("installation file is locked by another writer")
                       : "installation file is locked by another writer (" + who + ")";
}

} // namespace

std::string CZEBIntInstallation::readOnlyReason() const {
    if (m_openReadOnly) return "installation file opened read-only";
    return lockedByAnotherWriter(lockHolder());
}

bool CZEBIntInstallation::isChanged() const {
    return m_typeCont.isModified() || m_toolCont.isModified() || m_typeStorageChanged ||
           m_classification.isDocumentChanged() || m_queryMapChanged;
}

bool CZEBIntInstallation::load(const std::string& path) {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::load");
    CCoSynchronize lock(&m_csCalls.m_sec);
    DWORD r = m_file.openExistFile(path.c_str(), m_openReadOnly ? 0 : FsFileMan::kFileWrite);
    if (r == FsSectMan::kNotFound && m_openReadOnly) {
        // Looking never creates anything.
        ZEB_TRACE(rec, 4, "installation file: \"%s\" not found", path.c_str());
        return false;
    }
    if (r == FsSectMan::kHeldByWriter) {
        // Another writer works on the file: everything is read, nothing can
        // be saved over its work (save refuses).
        ZEB_TRACE(rec, 3, "%s, opened read-only",
                  lockedByAnotherWriter(m_file.writerLockHolder()).c_str());
        r = m_file.openExistFile(path.c_str(), 0);
    }
    if (r == FsSectMan::kNotFound && !path.empty()) {
        ZEB_TRACE(rec, 1, "installation file: \"%s\" not found, create it", path.c_str());
        if (const DWORD made = m_file.makeEmptyFile(path.c_str()); made != 0) {
            if (made == FsSectMan::kHeldByWriter) // another writer is creating it
                ZEB_TRACE(rec, 4, "%s", lockedByAnotherWriter(m_file.writerLockHolder()).c_str());
            ZEB_TRACE(rec, 4, "error creating installation file: \"%s\"", path.c_str());
            return false;
        }
        if (save(true)) return true;
        ZEB_TRACE(rec, 4, "error calling save after creating installation file");
        // Nothing reached the disk: the object goes on without a file rather
        // than with a working copy no save can put in place.
        if (m_file.CloseFile() != 0) ZEB_TRACE(rec, 4, "error calling CloseFile");
        return false;
    }
    if (r != 0) {
        ZEB_TRACE(rec, 4, "error on open installation file \"%s\"", path.c_str());
        return false;
    }
    // A section that does not read cleanly does not end the loading: the
    // other sections are read all the same and the file stays open, so the
    // installation goes on with everything that could be read, and nothing
    // is written over the file until something is changed. The first save
    // that writes keeps the damaged file beside the new one (keepDamagedFile).
    bool clean = false;
    try {
        clean = readSections();
    } catch (const std::bad_alloc&) {
        // Memory ran out while reading: what was read is a part of the file,
        // which no save may write back as the whole. Nothing read stays and
        // the file is closed: the installation goes on without one, as when
        // the file cannot be opened.
        ZEB_TRACE(rec, 4, "out of memory reading installation file \"%s\"", path.c_str());
        m_typeCont.clear();
        m_toolCont.clear();
        m_xpathMap.clear();
        m_typeCont.setModified(false);
        m_toolCont.setModified(false);
        if (m_file.CloseFile() != 0) ZEB_TRACE(rec, 4, "error calling CloseFile");
        return false;
    }
    m_typeCont.setModified(false);
    m_toolCont.setModified(false);
    if (!clean) {
        m_sectionsDamaged = true;
        m_damagedOnLoad = !m_openReadOnly && m_file.isWritable();
        return false;
    }
    return true;
}

bool CZEBIntInstallation::keepDamagedFile() {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::save");
    // A hard link keeps the bytes as they were read: the save puts the new
    // file in place by renaming, which leaves the linked one alone. A new
    // name each time: an earlier copy is never replaced.
    const std::string stem = m_filePath + ".damaged-" + std::to_string(long(std::time(nullptr)));
    std::string kept;
    for (int n = 0; n < 100; ++n) {
        kept = stem + (n ? "-" + std::to_string(n) : std::string()) + ".dat";
        if (::link(m_filePath.c_str(), kept.c_str()) == 0) {
            ZEB_TRACE(rec, 4, "damaged installation file kept in \"%s\"", kept.c_str());
            m_damagedOnLoad = false;
            return true;
        }
        if (errno != EEXIST) break;
    }
    ZEB_TRACE(rec, 4, "error keeping the damaged installation file in \"%s\": %s", kept.c_str(),
              std::strerror(errno));
    return false;
}

bool CZEBIntInstallation::readSections() {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::load");
    // Each section: opened for reading, read from its start, closed.
    // Each section is read even when an earlier one failed: they are
    // independent, and what cannot be read of one must not cost the others.
    // A section that cannot be opened for want of memory is no damage
    // either: the load fails (std::bad_alloc, as when a read runs out).
    auto open = [&](const char* name) -> FsSecCl* {
        FsSecCl* section = nullptr;
        const DWORD r = m_file.OpenSect(name, &section, 0);
        if (r == FsSectMan::kNoMemory) throw std::bad_alloc();
        return r == 0 ? section : nullptr;
    };
    auto read = [&](FsSecCl* section, const char* openError, auto&& body) {
        if (!section) {
            ZEB_TRACE(rec, 4, "%s", openError);
            return false;
        }
        section->seek(0, 0);
        body(*section);
        if (section->state() == FsSecCl::kNoMemory) {
            // Not damage: the section may be whole. The load fails instead.
            m_file.CloseSect(section);
            throw std::bad_alloc();
        }
        const bool good = section->state() == FsSecCl::kGood;
        if (m_file.CloseSect(section) != 0 || !good) {
            ZEB_TRACE(rec, 4, "read error");
            return false;
        }
        return true;
    };
    bool clean = read(open(FS_SECT_TYPES), "error on open type storage",
                      [&](FsSecCl& s) { s >> m_typeCont; });
    zeb::Bstr xml; // read straight into the string the document loads from
    const bool textRead = read(open(FS_SECT_XMLTYPES), "error on open xml type storage",
                               [&](FsSecCl& s) { s >> xml; });
    if (clean && textRead) {
        // An installation that never had a type stores the empty document,
        // whose text is the declaration alone: that is no damage.
        if (isEmptyDocumentText(xml.view())) {
            // the document stays empty
        } else if (!m_classification.setXMLText(xml)) {
            ZEB_TRACE(rec, 4, "error loading xml document");
            rebuildDocument(std::u16string(xml.view()));
        }
    } else {
        // No text, or types missing that the text may describe: the document
        // is made again from the types that were read, so it never describes
        // a type the installation does not hold. The stored text stays in the
        // damaged file that the first save keeps.
        rebuildDocument({});
    }
    clean &= textRead;
    clean &= read(open(FS_SECT_XPATHQUERIES), "error on open xpath-query storage",
                  [&](FsSecCl& s) { s >> m_xpathMap; });
    clean &= read(open(FS_SECT_TOOLS), "error on open tool storage",
                  [&](FsSecCl& s) { s >> m_toolCont; });
    return clean;
}

void CZEBIntInstallation::rebuildDocument(const std::u16string& unreadable) {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::load");
    // The unreadable text stays for inspection beside the installation file.
    if (unreadable.empty()) {
        // nothing to keep
    } else if (m_openReadOnly) {
        ZEB_TRACE(rec, 4, "unreadable xml document not kept: the installation is opened read-only");
    } else if (!m_filePath.empty()) {
        // A new name each time: an earlier copy is never replaced.
        const std::string stem =
            m_filePath + ".xmltypes-" + std::to_string(long(std::time(nullptr)));
        std::string kept;
        bool written = false;
        for (int n = 0; n < 100 && !written; ++n) {
            kept = stem + (n ? "-" + std::to_string(n) : std::string()) + ".xml";
            written = writeNewFile(kept, zeb::toNarrow(unreadable));
            if (!written && errno != EEXIST) break;
        }
        if (written)
            ZEB_TRACE(rec, 4, "unreadable xml document kept in \"%s\"", kept.c_str());
        else
            ZEB_TRACE(rec, 4, "error keeping the unreadable xml document in \"%s\"", kept.c_str());
    }
    // Every installed type gets its class element again; the next refresh
    // describes them. Until a change is saved the stored text stays as it
    // is: the document is not marked changed.
    const bool changed = m_classification.isDocumentChanged();
    for (const GUID& typeId : m_typeCont.getTypeIDList()) {
        // The container's own internal type never has a class element.
        if (typeId == CIsTypeCont::kInternalTypeId) continue;
        const TypeClass typeClass = m_typeCont.getTypeClass(typeId);
        if (m_classification.addXMLType(
                typeId, m_typeCont.getTypeNameByIDAndClass(typeClass, typeId), typeClass) != 0)
            ZEB_TRACE(rec, 4, "error rebuilding the xml document");
    }
    if (!changed) m_classification.clearDocumentChanged();
    ZEB_TRACE(rec, 4, "xml document rebuilt from the installed types, to be described again");
}

bool CZEBIntInstallation::save(bool forced) {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::save");
    CCoSynchronize lock(&m_csCalls.m_sec);
    if (!forced && m_timerRunning)
        ZEB_TRACE(rec, 4, "redundant call: saveTimer has already been started");
    killSaveTimer();
    if (!isChanged()) {
        ZEB_TRACE(rec, 1, "No modification occured, nothing to save.");
        return true;
    }
    if (!isFileOpen()) {
        ZEB_TRACE(rec, 4, "installation file not open");
        return false;
    }
    if (isReadOnly()) {
        ZEB_TRACE(rec, 4, "%s", readOnlyReason().c_str());
        return false;
    }
    if (!m_typeCont.refreshTypeData()) {
        ZEB_TRACE(rec, 4, "error calling refreshTypeData");
        return false;
    }
    if (m_classification.isRefreshNeeded() && m_describer.refreshXMLTypeTree() != 0) {
        ZEB_TRACE(rec, 4, "error calling refreshXMLTypeTree");
        return false;
    }
    // Deferred: the timer writes in two minutes, and a save before then
    // starts the two minutes again.
    if (!forced && CCoBasisEsSettings::saveAsync() && setSaveTimer() == 0) return true;
    // What could not be read of a damaged file is not written over unseen.
    if (m_damagedOnLoad && !keepDamagedFile()) return false;
    // writeSections marks the containers saved as it writes them; until the
    // file is in place nothing is saved, and a save that stops half-way
    // (an error, or memory running out) marks them changed again, so the
    // next save writes them instead of finding nothing to do.
    struct KeepChangedUntilSaved {
        CIsTypeCont& types;
        CIsToolCont& tools;
        const bool typesChanged = types.isModified(), toolsChanged = tools.isModified();
        bool saved = false;
        ~KeepChangedUntilSaved() {
            if (saved) return;
            if (typesChanged) types.setModified(true);
            if (toolsChanged) tools.setModified(true);
        }
    } keepChanged{m_typeCont, m_toolCont};
    if (!writeSections()) return false;
    if (m_file.saveFile() != 0) {
        ZEB_TRACE(rec, 4, "error calling saveFile");
        return false;
    }
    keepChanged.saved = true;
    m_typeStorageChanged = false;
    m_classification.clearDocumentChanged();
    m_queryMapChanged = false;
    m_timerRunning = false;
    return true;
}

bool CZEBIntInstallation::writeSections() {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::save");
    // Each section: opened for writing, emptied, written, closed. A section
    // is good when the stream reports no error and the close succeeds.
    auto write = [&](FsSecCl* section, const char* openError, auto&& body) {
        if (!section) {
            ZEB_TRACE(rec, 4, "%s", openError);
            return false;
        }
        section->setSize(0);
        body(*section);
        const bool good = section->state() == FsSecCl::kGood;
        if (m_file.CloseSect(section) != 0 || !good) {
            ZEB_TRACE(rec, 4, "write error");
            return false;
        }
        return true;
    };
    // The same open message for the first three sections: callers and logs
    // of the installation have always seen it so.
    if (!write(m_file.getTypesSect(FsSectMan::kWrite), "error on open type storage",
               [&](FsSecCl& s) { s << m_typeCont; }))
        return false;
    m_typeCont.setModified(false);
    BSTR text = nullptr;
    if (!m_classification.getXMLText(&text)) {
        // Without a document the empty text is stored. A document whose text
        // cannot be had (memory ran out) fails the save: an empty section
        // would lose every class element at the next load.
        if (m_classification.document().document()) {
            ZEB_TRACE(rec, 4, "error calling getXMLText");
            return false;
        }
        text = nullptr;
    }
    zeb::Bstr xml;
    xml.Attach(text);
    if (!write(m_file.getXmlTypesSect(FsSectMan::kWrite), "error on open type storage",
               [&](FsSecCl& s) { s << xml.view(); }))
        return false;
    if (!write(m_file.getXPathQueriesSect(FsSectMan::kWrite), "error on open type storage",
               [&](FsSecCl& s) { s << m_xpathMap; }))
        return false;
    if (!write(m_file.getToolsSect(FsSectMan::kWrite), "error on open tool storage",
               [&](FsSecCl& s) { s << m_toolCont; }))
        return false;
    m_toolCont.setModified(false);
    return true;
}

// ---- the private storages of the types

DWORD CZEBIntInstallation::copyTypeStorage(const GUID& typeId, IStorage** out,
                                           CCoTraceRecord& rec) {
    FsSectMan* dir = m_file.openGuidDir(typeId, 0);
    if (!dir && m_file.createGuidDir(typeId) == 0) dir = m_file.openGuidDir(typeId, 0);
    if (!dir) {
        ZEB_TRACE(rec, 4, "error: cant access type storage");
        return PRET_SAVE_FAILED;
    }
    ComPtr<IStorage> storage; // Lock hands out a reference of its own
    const bool locked = dir->Lock(&storage);
    DWORD ret = 0;
    ComPtr<IStorage> copy;
    if (!locked || !storage) {
        ZEB_TRACE(rec, 4, "error: cant access type storage");
        ret = PRET_SAVE_FAILED;
    } else if (!FsFileMan::createMemStorage(&copy) ||
               FAILED(storage->CopyTo(0, nullptr, nullptr, copy.get()))) {
        ZEB_TRACE(rec, 4, "error: cant create copy of storage");
        ret = PRET_FAILURE;
    }
    storage = nullptr;
    if (locked) dir->Unlock();
    m_file.CloseDir(dir);
    if (ret == 0) *out = copy.Detach();
    return ret;
}

DWORD CZEBIntInstallation::replaceTypeStorage(const GUID& typeId, IStorage* source,
                                              CCoTraceRecord& rec) {
    if (isReadOnly()) {
        // Refused before the file is touched: it stays open for reading.
        ZEB_TRACE(rec, 4, "%s", readOnlyReason().c_str());
        return PRET_SAVE_FAILED;
    }
    FsSectMan* dir = m_file.openGuidDir(typeId, FsSectMan::kWrite);
    ComPtr<IStorage> storage; // Lock hands out a reference of its own
    const bool locked = dir && dir->Lock(&storage);
    if (!locked || !storage) {
        ZEB_TRACE(rec, 4, "error: cant access type storage");
        storage = nullptr;
        if (locked) dir->Unlock();
        if (dir) m_file.CloseDir(dir);
        if (m_file.CloseFile() != 0) ZEB_TRACE(rec, 4, "error calling CloseFile");
        return PRET_SAVE_FAILED;
    }
    const HRESULT hr = source->CopyTo(0, nullptr, nullptr, storage.get());
    storage = nullptr;
    dir->Unlock();
    m_file.CloseDir(dir);
    if (FAILED(hr)) {
        ZEB_TRACE(rec, 4, "error: cant create copy of storage");
        return PRET_FAILURE;
    }
    m_typeStorageChanged = true;
    return 0;
}
