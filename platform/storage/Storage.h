// Structured storage: IStorage, IStream, ILockBytes, IEnumSTATSTG and the
// functions that open compound files, with the Windows names, IIDs, slot
// order and result codes.
//
//   constexpr DWORD kNew = STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE;
//   ComPtr<IStorage> root;
//   HRESULT hr = StgCreateDocfile(u"/tmp/a.dat", kNew, 0, &root);
//   ComPtr<IStream> s;
//   hr = root->CreateStream(u"Data", kNew, 0, 0, &s);
//   hr = s->Write("abc", 3, nullptr);
//   hr = root->Commit(STGC_DEFAULT); // the file on disk now holds the tree
//
// The engine (CfbReader, CfbWriter, CfbDocument) reads a compound file
// (MS-CFB version 3 or 4) whole into memory and writes it whole, as version
// 3 with 512-byte sectors, at Commit of the root storage, and when the last
// reference to a root opened for writing goes (direct mode: changes are
// meant to reach the file).
// Commit writes a new image to the lock-bytes; on a file, to a temporary file
// beside it that is flushed and renamed over the target, so the file on disk
// always holds either the old or the new tree (a temporary left by a save
// that died is removed by the next writer). Commit on a sub-storage or a
// stream, and Revert, write nothing: the root's Commit writes the whole tree.
//
// Modes: STGM_READ / STGM_WRITE / STGM_READWRITE; STGM_CREATE (replace),
// STGM_FAILIFTHERE (the default: STG_E_FILEALREADYEXISTS when it exists),
// STGM_DELETEONRELEASE (the file is removed when the root goes; with a null
// name StgCreateDocfile makes such a file of a unique name in $TMPDIR or
// /tmp), STGM_SHARE_EXCLUSIVE / STGM_SHARE_DENY_WRITE (an advisory flock on the file:
// exclusive for writers, shared for readers; a conflict gives
// STG_E_SHAREVIOLATION). STGM_TRANSACTED is accepted and behaves as direct
// mode with an explicit Commit. Children must be opened STGM_SHARE_EXCLUSIVE,
// as on Windows (else STG_E_INVALIDFLAG), and an element is open at most once
// at a time (STG_E_ACCESSDENIED on the second open).
//
// Names: 1..31 UTF-16 units, none of '/', '\\', ':', '!'; compared without
// regard to case (simple upper-casing), as the format requires. A bad name
// gives STG_E_INVALIDNAME.
//
// Reading: a file is never trusted. Sector chains that loop or leave the
// file, sizes beyond their chains, directory cycles, out-of-range entries and
// an invalid header are refused with STG_E_DOCFILECORRUPT or
// STG_E_INVALIDHEADER (STG_E_FILENOTFOUND when the file is not there).
//
// Memory: STATSTG::pwcsName is allocated with CoTaskMemAlloc; the caller
// frees it with CoTaskMemFree (unless STATFLAG_NONAME was passed).
//
// Threads: an open tree (root, its children, their streams) is guarded by one
// lock, so its objects may be called from any thread.
#pragma once

#include "platform/com/SequentialStream.h"
#include "platform/com/Unknown.h"
#include "platform/win/GlobalMemory.h"
#include "platform/win/WinTypes.h"

// 64-bit offsets and sizes as two 32-bit halves or one 64-bit number.
union ULARGE_INTEGER {
    struct {
        DWORD LowPart;
        DWORD HighPart;
    } u;
    ULONGLONG QuadPart;
};
union LARGE_INTEGER {
    struct {
        DWORD LowPart;
        LONG HighPart;
    } u;
    LONGLONG QuadPart;
};
static_assert(sizeof(ULARGE_INTEGER) == 8 && sizeof(LARGE_INTEGER) == 8);

// 100-nanosecond intervals since 1601-01-01 UTC.
struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};
static_assert(sizeof(FILETIME) == 8);

// A null-terminated list of names to exclude (null: none).
using SNB = OLECHAR**;

// Access and creation modes.
constexpr DWORD STGM_DIRECT = 0x00000000;
constexpr DWORD STGM_TRANSACTED = 0x00010000;
constexpr DWORD STGM_SIMPLE = 0x08000000;
constexpr DWORD STGM_READ = 0x00000000;
constexpr DWORD STGM_WRITE = 0x00000001;
constexpr DWORD STGM_READWRITE = 0x00000002;
constexpr DWORD STGM_SHARE_DENY_NONE = 0x00000040;
constexpr DWORD STGM_SHARE_DENY_READ = 0x00000030;
constexpr DWORD STGM_SHARE_DENY_WRITE = 0x00000020;
constexpr DWORD STGM_SHARE_EXCLUSIVE = 0x00000010;
constexpr DWORD STGM_PRIORITY = 0x00040000;
constexpr DWORD STGM_DELETEONRELEASE = 0x04000000;
constexpr DWORD STGM_NOSCRATCH = 0x00100000;
constexpr DWORD STGM_CREATE = 0x00001000;
constexpr DWORD STGM_CONVERT = 0x00020000;
constexpr DWORD STGM_FAILIFTHERE = 0x00000000;
constexpr DWORD STGM_NOSNAPSHOT = 0x00200000;
constexpr DWORD STGM_DIRECT_SWMR = 0x00400000;

// Commit flags.
constexpr DWORD STGC_DEFAULT = 0;
constexpr DWORD STGC_OVERWRITE = 1;
constexpr DWORD STGC_ONLYIFCURRENT = 2;
constexpr DWORD STGC_DANGEROUSLYCOMMITMERELYTODISKCACHE = 4;
constexpr DWORD STGC_CONSOLIDATE = 8;

// Element kinds (STATSTG::type).
constexpr DWORD STGTY_STORAGE = 1;
constexpr DWORD STGTY_STREAM = 2;
constexpr DWORD STGTY_LOCKBYTES = 3;
constexpr DWORD STGTY_PROPERTY = 4;

// Seek origins.
constexpr DWORD STREAM_SEEK_SET = 0;
constexpr DWORD STREAM_SEEK_CUR = 1;
constexpr DWORD STREAM_SEEK_END = 2;

// Region lock kinds.
constexpr DWORD LOCK_WRITE = 1;
constexpr DWORD LOCK_EXCLUSIVE = 2;
constexpr DWORD LOCK_ONLYONCE = 4;

// Stat flags.
constexpr DWORD STATFLAG_DEFAULT = 0;
constexpr DWORD STATFLAG_NONAME = 1;
constexpr DWORD STATFLAG_NOOPEN = 2;

// MoveElementTo flags.
constexpr DWORD STGMOVE_MOVE = 0;
constexpr DWORD STGMOVE_COPY = 1;

// Result codes of the storage functions.
constexpr HRESULT STG_E_INVALIDFUNCTION = MAKE_HRESULT_(0x80030001);
constexpr HRESULT STG_E_FILENOTFOUND = MAKE_HRESULT_(0x80030002);
constexpr HRESULT STG_E_PATHNOTFOUND = MAKE_HRESULT_(0x80030003);
constexpr HRESULT STG_E_TOOMANYOPENFILES = MAKE_HRESULT_(0x80030004);
constexpr HRESULT STG_E_ACCESSDENIED = MAKE_HRESULT_(0x80030005);
constexpr HRESULT STG_E_INVALIDHANDLE = MAKE_HRESULT_(0x80030006);
constexpr HRESULT STG_E_INSUFFICIENTMEMORY = MAKE_HRESULT_(0x80030008);
constexpr HRESULT STG_E_INVALIDPOINTER = MAKE_HRESULT_(0x80030009);
constexpr HRESULT STG_E_NOMOREFILES = MAKE_HRESULT_(0x80030012);
constexpr HRESULT STG_E_DISKISWRITEPROTECTED = MAKE_HRESULT_(0x80030013);
constexpr HRESULT STG_E_SEEKERROR = MAKE_HRESULT_(0x80030019);
constexpr HRESULT STG_E_WRITEFAULT = MAKE_HRESULT_(0x8003001D);
constexpr HRESULT STG_E_READFAULT = MAKE_HRESULT_(0x8003001E);
constexpr HRESULT STG_E_SHAREVIOLATION = MAKE_HRESULT_(0x80030020);
constexpr HRESULT STG_E_LOCKVIOLATION = MAKE_HRESULT_(0x80030021);
constexpr HRESULT STG_E_FILEALREADYEXISTS = MAKE_HRESULT_(0x80030050);
constexpr HRESULT STG_E_INVALIDPARAMETER = MAKE_HRESULT_(0x80030057);
constexpr HRESULT STG_E_MEDIUMFULL = MAKE_HRESULT_(0x80030070);
constexpr HRESULT STG_E_PROPSETMISMATCHED = MAKE_HRESULT_(0x800300F0);
constexpr HRESULT STG_E_ABNORMALAPIEXIT = MAKE_HRESULT_(0x800300FA);
constexpr HRESULT STG_E_INVALIDHEADER = MAKE_HRESULT_(0x800300FB);
constexpr HRESULT STG_E_INVALIDNAME = MAKE_HRESULT_(0x800300FC);
constexpr HRESULT STG_E_UNKNOWN = MAKE_HRESULT_(0x800300FD);
constexpr HRESULT STG_E_UNIMPLEMENTEDFUNCTION = MAKE_HRESULT_(0x800300FE);
constexpr HRESULT STG_E_INVALIDFLAG = MAKE_HRESULT_(0x800300FF);
constexpr HRESULT STG_E_INUSE = MAKE_HRESULT_(0x80030100);
constexpr HRESULT STG_E_NOTCURRENT = MAKE_HRESULT_(0x80030101);
constexpr HRESULT STG_E_REVERTED = MAKE_HRESULT_(0x80030102);
constexpr HRESULT STG_E_CANTSAVE = MAKE_HRESULT_(0x80030103);
constexpr HRESULT STG_E_OLDFORMAT = MAKE_HRESULT_(0x80030104);
constexpr HRESULT STG_E_OLDDLL = MAKE_HRESULT_(0x80030105);
constexpr HRESULT STG_E_SHAREREQUIRED = MAKE_HRESULT_(0x80030106);
constexpr HRESULT STG_E_NOTFILEBASEDSTORAGE = MAKE_HRESULT_(0x80030107);
constexpr HRESULT STG_E_EXTANTMARSHALLINGS = MAKE_HRESULT_(0x80030108);
constexpr HRESULT STG_E_DOCFILECORRUPT = MAKE_HRESULT_(0x80030109);
constexpr HRESULT STG_E_BADBASEADDRESS = MAKE_HRESULT_(0x80030110);
constexpr HRESULT STG_E_DOCFILETOOLARGE = MAKE_HRESULT_(0x80030111);
constexpr HRESULT STG_E_NOTSIMPLEFORMAT = MAKE_HRESULT_(0x80030112);
constexpr HRESULT STG_E_INCOMPLETE = MAKE_HRESULT_(0x80030201);
constexpr HRESULT STG_E_TERMINATED = MAKE_HRESULT_(0x80030202);
constexpr HRESULT STG_S_CONVERTED = MAKE_HRESULT_(0x00030200);
constexpr HRESULT STG_S_BLOCK = MAKE_HRESULT_(0x00030201);
constexpr HRESULT STG_S_RETRYNOW = MAKE_HRESULT_(0x00030202);
constexpr HRESULT STG_S_MONITORING = MAKE_HRESULT_(0x00030203);

// What Stat reports about a storage, stream or lock-bytes.
struct STATSTG {
    LPOLESTR pwcsName;       // CoTaskMemAlloc'd; null with STATFLAG_NONAME
    DWORD type;              // STGTY_*
    ULARGE_INTEGER cbSize;   // streams and lock-bytes: size in bytes
    FILETIME mtime;          // modification time (storages)
    FILETIME ctime;          // creation time (storages)
    FILETIME atime;          // access time (0 here)
    DWORD grfMode;           // the mode the element was opened with
    DWORD grfLocksSupported; // LOCK_* supported by LockRegion
    CLSID clsid;             // storages: the class id
    DWORD grfStateBits;      // storages: the state bits
    DWORD reserved;
};

struct IStream;
struct IStorage;
struct IEnumSTATSTG;

// The byte array under a compound file: a file, or a block of memory.
struct ILockBytes : IUnknown {
    static constexpr IID iid = makeGuid("0000000A-0000-0000-C000-000000000046");
    // Reads up to cb bytes at off; reading past the end reads fewer (S_OK).
    virtual HRESULT ReadAt(ULARGE_INTEGER off, void* pv, ULONG cb, ULONG* pcbRead) = 0;
    // Writes cb bytes at off, growing the array as needed.
    virtual HRESULT WriteAt(ULARGE_INTEGER off, const void* pv, ULONG cb, ULONG* pcbWritten) = 0;
    virtual HRESULT Flush() = 0;
    virtual HRESULT SetSize(ULARGE_INTEGER cb) = 0;
    virtual HRESULT LockRegion(ULARGE_INTEGER off, ULARGE_INTEGER cb, DWORD lockType) = 0;
    virtual HRESULT UnlockRegion(ULARGE_INTEGER off, ULARGE_INTEGER cb, DWORD lockType) = 0;
    virtual HRESULT Stat(STATSTG* pstatstg, DWORD grfStatFlag) = 0;
};

// A stream: the sequential read/write of ISequentialStream plus a position,
// a size and Stat. Answers IID_ISequentialStream too.
struct IStream : ISequentialStream {
    static constexpr IID iid = makeGuid("0000000C-0000-0000-C000-000000000046");
    // Moves the position from the start, the position or the end (origin
    // STREAM_SEEK_SET, _CUR, _END). Seeking past the end is allowed (a later
    // Write fills the gap with zeros) up to the stream's last possible
    // position; another origin, a negative result or one past that last
    // position gives STG_E_INVALIDFUNCTION and keeps the position. Our
    // streams share the rule in StreamSeek.h.
    virtual HRESULT Seek(LARGE_INTEGER dlibMove, DWORD dwOrigin,
                         ULARGE_INTEGER* plibNewPosition) = 0;
    virtual HRESULT SetSize(ULARGE_INTEGER libNewSize) = 0;
    // Copies cb bytes from this stream's position to pstm's position.
    virtual HRESULT CopyTo(IStream* pstm, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead,
                           ULARGE_INTEGER* pcbWritten) = 0;
    virtual HRESULT Commit(DWORD grfCommitFlags) = 0;
    virtual HRESULT Revert() = 0;
    virtual HRESULT LockRegion(ULARGE_INTEGER libOffset, ULARGE_INTEGER cb, DWORD dwLockType) = 0;
    virtual HRESULT UnlockRegion(ULARGE_INTEGER libOffset, ULARGE_INTEGER cb, DWORD dwLockType) = 0;
    virtual HRESULT Stat(STATSTG* pstatstg, DWORD grfStatFlag) = 0;
    // A second stream on the same bytes with its own position.
    virtual HRESULT Clone(IStream** ppstm) = 0;
};

// Enumerates a storage's direct children (in the directory's name order).
struct IEnumSTATSTG : IUnknown {
    static constexpr IID iid = makeGuid("0000000D-0000-0000-C000-000000000046");
    // Up to celt entries; S_FALSE when fewer than celt were left. Each
    // pwcsName is the caller's to free with CoTaskMemFree.
    virtual HRESULT Next(ULONG celt, STATSTG* rgelt, ULONG* pceltFetched) = 0;
    virtual HRESULT Skip(ULONG celt) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumSTATSTG** ppenum) = 0;
};

// A storage: a directory of named streams and storages.
struct IStorage : IUnknown {
    static constexpr IID iid = makeGuid("0000000B-0000-0000-C000-000000000046");
    virtual HRESULT CreateStream(const OLECHAR* pwcsName, DWORD grfMode, DWORD reserved1,
                                 DWORD reserved2, IStream** ppstm) = 0;
    virtual HRESULT OpenStream(const OLECHAR* pwcsName, void* reserved1, DWORD grfMode,
                               DWORD reserved2, IStream** ppstm) = 0;
    virtual HRESULT CreateStorage(const OLECHAR* pwcsName, DWORD grfMode, DWORD reserved1,
                                  DWORD reserved2, IStorage** ppstg) = 0;
    virtual HRESULT OpenStorage(const OLECHAR* pwcsName, IStorage* pstgPriority, DWORD grfMode,
                                SNB snbExclude, DWORD reserved, IStorage** ppstg) = 0;
    // Copies every element (except those named in snbExclude) into pstgDest,
    // replacing same-named elements there; also the class id and state bits.
    virtual HRESULT CopyTo(DWORD ciidExclude, const IID* rgiidExclude, SNB snbExclude,
                           IStorage* pstgDest) = 0;
    virtual HRESULT MoveElementTo(const OLECHAR* pwcsName, IStorage* pstgDest,
                                  const OLECHAR* pwcsNewName, DWORD grfFlags) = 0;
    virtual HRESULT Commit(DWORD grfCommitFlags) = 0;
    virtual HRESULT Revert() = 0;
    virtual HRESULT EnumElements(DWORD reserved1, void* reserved2, DWORD reserved3,
                                 IEnumSTATSTG** ppenum) = 0;
    virtual HRESULT DestroyElement(const OLECHAR* pwcsName) = 0;
    virtual HRESULT RenameElement(const OLECHAR* pwcsOldName, const OLECHAR* pwcsNewName) = 0;
    virtual HRESULT SetElementTimes(const OLECHAR* pwcsName, const FILETIME* pctime,
                                    const FILETIME* patime, const FILETIME* pmtime) = 0;
    virtual HRESULT SetClass(REFCLSID clsid) = 0;
    virtual HRESULT SetStateBits(DWORD grfStateBits, DWORD grfMask) = 0;
    virtual HRESULT Stat(STATSTG* pstatstg, DWORD grfStatFlag) = 0;
};

constexpr IID IID_ILockBytes = ILockBytes::iid;
constexpr IID IID_IStream = IStream::iid;
constexpr IID IID_IEnumSTATSTG = IEnumSTATSTG::iid;
constexpr IID IID_IStorage = IStorage::iid;

// Creates a compound file (see the modes above) and opens its root storage.
HRESULT StgCreateDocfile(const OLECHAR* pwcsName, DWORD grfMode, DWORD reserved,
                         IStorage** ppstgOpen);
// Opens the root storage of an existing compound file.
HRESULT StgOpenStorage(const OLECHAR* pwcsName, IStorage* pstgPriority, DWORD grfMode,
                       SNB snbExclude, DWORD reserved, IStorage** ppstgOpen);
// S_OK when the file starts with the compound-file signature, S_FALSE when
// not, STG_E_FILENOTFOUND when it cannot be read.
HRESULT StgIsStorageFile(const OLECHAR* pwcsName);
// The same for a lock-bytes object.
HRESULT StgIsStorageILockBytes(ILockBytes* plkbyt);
// Creates a new (empty) compound file in the lock-bytes (its old bytes go).
HRESULT StgCreateDocfileOnILockBytes(ILockBytes* plkbyt, DWORD grfMode, DWORD reserved,
                                     IStorage** ppstgOpen);
// Opens the compound file held by the lock-bytes.
HRESULT StgOpenStorageOnILockBytes(ILockBytes* plkbyt, IStorage* pstgPriority, DWORD grfMode,
                                   SNB snbExclude, DWORD reserved, IStorage** ppstgOpen);
// Lock-bytes in a global memory block: hGlobal null allocates a new, empty
// one; else its bytes (GlobalSize of them) are the initial content. With
// fDeleteOnRelease the block is freed when the object goes; when the call
// fails, the caller's block stays the caller's.
HRESULT CreateILockBytesOnHGlobal(HGLOBAL hGlobal, BOOL fDeleteOnRelease, ILockBytes** pplkbyt);
// The block under lock-bytes made by CreateILockBytesOnHGlobal.
HRESULT GetHGlobalFromILockBytes(ILockBytes* plkbyt, HGLOBAL* phglobal);
// A stream in a global memory block, as for the lock-bytes (size: GlobalSize).
HRESULT CreateStreamOnHGlobal(HGLOBAL hGlobal, BOOL fDeleteOnRelease, IStream** ppstm);
// The block under a stream made by CreateStreamOnHGlobal.
HRESULT GetHGlobalFromStream(IStream* pstm, HGLOBAL* phglobal);
