#pragma once

#include <cstdint>
#include <functional>
#include <istream>
#include <map>
#include <memory>
#include <ostream>
#include <sstream>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include <quarlen/GalleryFileLinks.h>
#include <quarlen/IdRecordKey.h>
#include <quarlen/IdentityMetadata.h>
#include <quarlen/KXuint128.h>
#include <quarlen/QuarlenExport.h>
#include <quarlen/Types.h>

namespace qridy {

class FidJournal;
class MultiPartFidFile;
class TemplateBlockImp;

// The gallery of the multipass matcher on disk: per enrolled identity one opaque data blob (the
// template data the matcher's stages need) with the identity's key, in fixed-record FID files in
// the directory <base>/<name>/:
//   <name>.IDs      the index file: 25-byte records (personId 8, transactionId 8, data file
//                   index 1, record position 4, record checksum 4) mapping keys to blobs;
//   <name>_S.dat    one data file per configured data size S, holding blobs of up to S bytes;
//   <name>.journal  the undo journal that makes every batch of writes and every removal
//                   all-or-nothing (see below).
// Each FID file may have further parts (<file>.0001, ...), see MultiPartFidFile.
//
// Writing: add() collects blobs in a write cache; writeCacheToDisk() writes the cached blobs to
// the data files and their index records to the index file as one batch. A record is
// acknowledged when writeCacheToDisk() (or the add() that triggered it) returns true.
//
// Crash safety: before a batch (or a removal by clear()) changes any file, the before-images of
// every header and record header it will overwrite are written to the journal. If the process
// dies, or a write fails, the next open() (or the roll-back of the failed call) restores them, so
// after any interruption the gallery holds exactly the acknowledged records: a batch in flight
// is either wholly present or wholly absent, a removal in flight either done or not. Without
// fsync every step is flushed to the operating system in order, which protects against the death
// of the process (kill, crash) but not against a power cut or a crash of the operating system.
//
// The files are consistent on their own too, for a gallery whose journal is gone (copied or
// backed up as its .IDs and .dat files, or a journal lost with its disk): open() checks every
// part header against its records' status words and rebuilds the header where they disagree (see
// FidFile), then removes what an unfinished change left behind (data records that no index
// record names, index records without their data record), reporting both as warnings. Without
// the journal a batch in flight may be found in part; every acknowledged record is there.
// open() reads every record header of every part for this check.
//
// setSyncToDisk(true) makes acknowledged records survive a power cut as well: the journal is
// synced to the storage before the files change, and all changed files (and, for new files,
// the directory) are synced before the journal is closed (synced again) and the change
// acknowledged. Writes in between may reach the disk in any order: the journal restores what a
// power cut leaves half done. That is two syncs plus one per changed file, four for a batch into
// one data file and for a clear(); with large batches (the write cache) the cost per record stays
// small (about half the throughput of unsynced batches of 1000 4 KiB blobs on a virtual disk),
// with a cache of one record it dominates. It relies on the sync entry of FileManager: a host
// that installs its own file functions installs a matching sync function (see FileManager).
//
// Reading: read() finds a blob through the in-memory index vector (sorted by key); for an
// existing gallery the vector is filled by readIdRecKeyToBlobOffsetMap() after open().
//
// Threads: blob reads take one process-wide lock around the file access (a FID file has one file
// position and one read-ahead buffer). Everything else must not run concurrently with any other
// operation on the same object.
//
// Failures: construction, create() and open() throw kxxcp::Exception; add, write, read and clear
// report through error notifications and a false result, as documented per operation.
class QUARLEN_EXPORT MultipassFileIO {
 public:
  // One index entry in memory.
  struct IdRecKeyToBlobOffset {
    IdRecordKey key;
    const IdentityMetadata* metadata = nullptr;  // not owned; null when unknown
    unsigned char dataFileIndex = 0;             // which data file holds the blob
    unsigned int dataPosition = 0;               // record position in that data file
    unsigned int indexPosition = 0;              // record position in the index file
    unsigned int recordChecksum = 0;             // record checksum of the blob
  };

  static constexpr unsigned int kIndexDataSize = 25;
  static constexpr unsigned int kGrowthIncrement = 1000;
  static constexpr std::size_t kMaxDataFiles = 256;

  // baseA/nameA: the gallery directory <baseA>/<nameA>/ (created when missing); reserveA: room to
  // reserve in the index vector. The first form, and an empty sizesA, read the data sizes from
  // the configuration (section "FID_FILE_TEMPLATE_SIZE", key "SIZES"). The write cache holds
  // "loadingCacheSize" blobs (section "TEMPLATE_MATCHING_MULTIPASS"; 1000 when absent, at least
  // 1); every FID file part reads ahead "cacheBufferSize" bytes (section "FID_DATA_CACHING";
  // below 1: no read-ahead). Throws "Failed to create MultipassFileIO object. ... kxxcp exc
  // caught: <reason>" or "Failed to create MultipassFileIO object. . Unknown exc caught.".
  MultipassFileIO(const std::string& baseA, unsigned int reserveA, const std::string& nameA);
  MultipassFileIO(const std::string& baseA, unsigned int reserveA, const std::string& nameA,
                  std::vector<unsigned int> sizesA);
  // Closes the files. Blobs still in the write cache are not written.
  ~MultipassFileIO();
  MultipassFileIO(const MultipassFileIO&) = delete;
  MultipassFileIO& operator=(const MultipassFileIO&) = delete;

  // Creates the index file and every data file afresh (growth increment 1000) and opens them;
  // the index vector and the write cache are emptied. The two arguments are kept for the
  // interface and have no effect. Throws "Cannot create MultipassFileIO file : <name>, dataSize
  // : <size>".
  void create(unsigned int, unsigned int);
  // Opens the files of an existing gallery, first undoing an interrupted batch or removal
  // (journal), then repairing what one left without its journal (see the class comment).
  // Sends an error notification and throws "Cannot open MultipassFileIO file : <name>", with ",
  // Not created!" appended when this object did not create the gallery. Opening an open gallery
  // does nothing. A missing journal that cannot be created is no error: the gallery opens for
  // reading (warning "MultipassFileIO::open - Cannot create the journal <path>: the gallery is
  // open for reading only"), and writeCacheToDisk() and clear() fail with the error "<operation>
  // - The gallery is open for reading only: cannot create the journal <path>" for as long as
  // the journal cannot be created.
  void open();
  void close();
  bool isOpen() const;

  // The record limit of every part of every data file (0: the part limit of 0x8000000 / R
  // records). The limit stays in force across close() and open() of this object.
  void setFileLimit(long limitA);
  // The record limit in force in the first data file (the part limit when none is set).
  long getFileLimit() const;
  // Switches the read-ahead buffers of the data files on or off.
  void enableCachingForDataFidFiles(bool enableA);

  // Power-cut durability (see the class comment); off by default.
  void setSyncToDisk(bool syncA) { syncM = syncA; }
  bool syncToDisk() const { return syncM; }
  // The number of blobs the write cache collects before add() writes them.
  void setWriteCacheSize(unsigned int sizeA) { cacheLimitM = sizeA < 1 ? 1 : sizeA; }
  unsigned int writeCacheSize() const { return cacheLimitM; }
  std::size_t cachedBlobs() const { return cacheM.size(); }

  // Appends a copy of the blob (sizeA bytes, zero-padded to getDataSize()) with metadataA's key
  // to the write cache (metadataA is remembered, not owned); when the cache then holds
  // writeCacheSize() blobs, writes it and returns writeCacheToDisk()'s result, else true. A blob
  // larger than the largest data size throws "Cannot find a fidfile for datasize: <size>"; a
  // null dataA with sizeA > 0 gives false.
  bool add(const IdentityMetadata& metadataA, const void* dataA, unsigned int sizeA);
  // Writes the cached blobs as one batch (see the class comment). On success the new entries
  // join the index vector, the cache is emptied and the result is true. On failure the batch is
  // rolled back, the failure is reported by error notifications ("writeCacheToDisk - ..."), the
  // blobs stay in the cache (a later call tries again) and the result is false.
  bool writeCacheToDisk();
  // Reads the blob of keyA into bufferA (getDataSize() bytes; zero-padded when the blob's data
  // file is smaller). False when the key is not in the index vector or the record cannot be
  // read; with verifyA, also when the record's bytes do not match its checksum.
  bool read(const IdRecordKey& keyA, void* bufferA, bool verifyA);
  // Reads the blobs of the index entries that wantA accepts (called once per entry, in index
  // order, before any read), data file by data file in file order, and hands each to visitA in
  // that order with the bytes of its data record: sizeA is the data size of the blob's data file
  // (no zero padding up to getDataSize()); the bytes are valid during the call only. Records
  // are read in runs of up to 512 KiB, skipping gaps of up to 64 KiB between wanted records; the
  // read lock is held per run, never while visitA runs, so reloads of several probe slots
  // overlap. Returns false when a wanted record cannot be read or is not in use: the blobs
  // before it in file order have been visited, none after it. What visitA throws propagates.
  using BlobWanted = std::function<bool(const IdRecKeyToBlobOffset& entryA)>;
  using BlobVisitor = std::function<void(const IdRecKeyToBlobOffset& entryA,
                                         const unsigned char* dataA, unsigned int sizeA)>;
  bool readBlobsInFileOrder(const BlobWanted& wantA, const BlobVisitor& visitA);
  // Removes keyA's blob and index record (true at once when the key is not stored). On failure
  // the removal is rolled back, the entry stays, errors are notified and the result is false.
  bool clear(const IdRecordKey& keyA);

  // The largest data size: the size of the cached blobs and of read()'s buffer.
  unsigned int getDataSize() const { return maxDataSizeM; }
  const std::vector<IdRecKeyToBlobOffset>& getIdRecKeyToBlobOffsetMap() const { return indexM; }
  // The entries of one person, in key order.
  std::vector<IdRecKeyToBlobOffset> searchPid(unsigned long long personIdA) const;

  // Reads the whole index file into the index vector (opening the files when needed), resolving
  // each key's metadata in sourceA; keys the source does not know keep a null metadata pointer
  // (warning notification). labelA names the gallery in diagnostics. Throws on unreadable files.
  void readIdRecKeyToBlobOffsetMap(const std::string& labelA, GalleryMetadataSource& sourceA);
  // The same without metadata (every metadata pointer null).
  void readIdRecKeyToBlobOffsetMap(const std::string& labelA);

  // Reloads every stored blob into the sinks of its triples, going through the data files in
  // file order; returns the number of template blocks handed over. Blobs of entries without
  // metadata are skipped. Throws "Failed to recover gallery: kxxcp caught: <reason>".
  int recoverDataAndAdd(const std::map<BioMetricTriple, GalleryBlockSink*>& sinksA);
  // Splits one record blob (entry count; per entry modality, instance, algorithm as 32-bit
  // values, sample id low then high half, template block record) into three parallel lists;
  // the caller owns the blocks. Entries of algorithm 255 carry no block and are skipped. On
  // failure the blocks made by this call are deleted and the exception propagates.
  static void readTemplateBlocksFromFidFileBlock(std::istringstream& isA,
                                                 std::vector<TemplateBlockImp*>& blocksA,
                                                 std::vector<KXuint128>& sampleIdsA,
                                                 std::vector<BioMetricTriple>& triplesA);

  // The 16-bit ones'-complement sum of the stored file checksums of all data files (opening
  // the files when needed).
  unsigned int getMultiFileChecksum();

  // "MFBD" (or "MFSD"), the number of index entries (32-bit), then per entry personId (64-bit),
  // transactionId (64-bit), data file index (8-bit), data position (32-bit), index position
  // (32-bit); little-endian.
  void dumpBinary(std::ostream& osA) const;
  void dumpShortBinary(std::ostream& osA) const;

  // Appends one element per FID file with the stored and the recomputed file checksum; true
  // when every file is valid (checksums equal in the sense of the two zeros, and the used
  // records counted as the header says).
  bool checkStatusFast(std::string& reportA, validationNonBiometricInfo* infoA);
  // checkStatusFast, then every index entry's blob is read and checked against its record
  // checksum and the index, the blob's entries against infoA's modalities and instances, and
  // used data records that no index entry names are listed. True when nothing was found.
  bool checkStatusIntensive(std::string& reportA, validationNonBiometricInfo* infoA);

  // File names, for diagnostics and tests.
  std::string directory() const { return directoryM; }
  std::string indexFileName() const;
  std::string dataFileName(std::size_t fileA) const;
  std::size_t dataFileCount() const { return dataFilesM.size(); }
  unsigned int dataFileSize(std::size_t fileA) const { return dataFilesM[fileA].dataSize; }
  // The index of the data file a blob of sizeA bytes goes to; throws "Cannot find a fidfile for
  // datasize: <size>" when none is large enough.
  unsigned int getFidFile(unsigned int sizeA) const;

 private:
  // One FID file: its name, multi-part file, record data size and index (0, 1, ... for the data
  // files in the order of the sizes; the index file is not counted). A size given twice makes
  // the later entry an alias of the first: it shares its file and is skipped wherever files are
  // created, opened, summed, checked or reloaded.
  struct FidFileStruct {
    std::string fileName;
    std::shared_ptr<MultiPartFidFile> file;
    unsigned int dataSize = 0;
    unsigned int index = 0;
    bool alias = false;
  };
  struct CachedBlob {
    IdRecordKey key;
    const IdentityMetadata* metadata = nullptr;
    unsigned int size = 0;
  };
  struct Batch;

  void construct(const std::string& baseA, unsigned int reserveA, const std::string& nameA,
                 std::vector<unsigned int> sizesA);
  void openFiles();
  bool ensureOpen(std::string& failedA);
  bool journalAccepts(const std::string& fileNameA) const;
  bool createJournal();
  // True when the journal exists or can be created now; otherwise notifies the error
  // "<contextA> - The gallery is open for reading only: cannot create the journal <path>".
  bool ensureWritable(const char* contextA);
  // Removes what an interrupted change left when its journal was lost: index records that name
  // no used data record (or one that another index record names), and used data records that no
  // index record names. Throws (open) when the index file cannot be read.
  void removeUnfinishedRecords();
  bool finishChange(Batch& batchA);
  bool rollBack(Batch& batchA, const char* contextA);
  // After a roll-back that could not start, the files decide whether the change happened: the
  // index vector and the write cache follow them.
  void settleUnknownOutcome();
  void insertEntry(const IdRecKeyToBlobOffset& entryA);
  std::vector<IdRecKeyToBlobOffset>::iterator findEntry(const IdRecordKey& keyA);
  void loadIndex(const std::string& labelA, GalleryMetadataSource* sourceA);
  // Every used index record as stored; damagedA receives the positions of records whose
  // checksum is wrong or that name no data file. Throws (functionA) when a part is unreadable.
  void readIndexRecords(std::vector<IdRecKeyToBlobOffset>& entriesA,
                        std::vector<unsigned int>& damagedA, const char* functionA);
  // The used data records (data-file index, position) that namedA (positions per data file) does
  // not name. Throws (functionA) when a part is unreadable.
  std::vector<std::pair<unsigned int, std::uint32_t>> unnamedDataRecords(
      const std::vector<std::unordered_set<std::uint32_t>>& namedA, const char* functionA);
  bool checkFile(FidFileStruct& fileA, const std::string& elementA, std::string& reportA);
  void dump(std::ostream& osA, const char* magicA) const;

  std::string directoryM;
  std::string nameM;
  FidFileStruct indexFileM;
  std::vector<FidFileStruct> dataFilesM;
  std::unique_ptr<FidJournal> journalM;
  unsigned int maxDataSizeM = 0;
  unsigned int bufferBytesM = 0;
  unsigned int cacheLimitM = 1000;
  bool createdM = false;
  bool openM = false;
  bool journalReadyM = false;
  bool syncM = false;
  bool dataCachingM = true;
  long fileLimitM = 0;
  std::vector<IdRecKeyToBlobOffset> indexM;
  std::vector<CachedBlob> cacheM;
  std::vector<IdRecKeyToBlobOffset> unsettledAddsM;
  std::vector<IdRecKeyToBlobOffset> unsettledRemovalsM;
  std::vector<unsigned char> cacheBytesM;
};

}  // namespace qridy
