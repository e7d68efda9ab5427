#pragma once

#include <istream>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include <quarlen/BioRecordImp.h>
#include <quarlen/IdRecordKey.h>
#include <quarlen/KXuint128.h>
#include <quarlen/QuarlenExport.h>
#include <quarlen/TemplateBlockImp.h>
#include <quarlen/TemplateImp.h>
#include <quarlen/TemplateKey.h>
#include <quarlen/Types.h>

namespace qridy {

// The unit of enrolment and search: everything known biometrically about one person in one
// transaction, as one biometric record per modality and instance (owned, ordered by the
// biometric record's hash key: modality in the low half, instance in the high half), under an
// IdRecordKey, with an optional short opaque sId. In queries 65535 stands for any modality or
// any instance.
//
// Record layout (format version 5, little-endian, no padding):
//   "QX", version (uint16), checksum (uint32: wrapping sum of the biometric records'
//   checksums), personId (uint64), transactionId (uint64), sIdSize S (uint16), S bytes,
//   biometric record count N (uint16), N biometric records in ascending hash-key order.
// The stored checksum is not compared on reading: the nested records check their own.
//
// Errors are kxxcp::Exception (code -1); the stream forms of read and write wrap what they catch
// behind "kxxcp caught: " (or the other introductions), so an error deep in a template block
// arrives with one introduction per level.
//
// Not a base class: the destructor is not virtual.
class QUARLEN_EXPORT IdRecordImp final {
 public:
  IdRecordImp() = default;
  // Copy the key and the sId and add a copy of every biometric record.
  IdRecordImp(const IdRecordImp& otherA);
  IdRecordImp& operator=(const IdRecordImp& otherA);
  ~IdRecordImp();

  // Records are equal when their keys are, whatever they hold.
  bool operator==(const IdRecordImp& otherA) const { return keyM == otherA.keyM; }
  bool operator!=(const IdRecordImp& otherA) const { return !(*this == otherA); }

  // Appends the record's description and those of its biometric records to textA; false for a
  // record without biometric records, else true when every biometric record's validate is.
  virtual bool validate(std::string& textA) const;
  virtual void randomizeFeatures();
  virtual void convertToGalleryAndProbe();
  // True when no biometric record holds more than one template.
  virtual bool containsOnlyOneSamplePerInstance() const;

  // --- key and sId ---
  unsigned long long personId() const { return keyM.personId; }
  void setPersonId(unsigned long long personIdA) { keyM.personId = personIdA; }
  unsigned long long transactionId() const { return keyM.transactionId; }
  void setTransactionId(unsigned long long transactionIdA) { keyM.transactionId = transactionIdA; }
  IdRecordKey idRecordKey() const { return keyM; }
  void setIdRecordKey(const IdRecordKey& keyA) { keyM = keyA; }
  // Replaces the sId by a copy of sizeA bytes.
  void setSId(const char* dataA, unsigned short sizeA);
  const char* sIdDataPtr() const { return sIdDataM.get(); }
  unsigned int sIdSize() const { return sIdSizeM; }

  // --- building ---
  // Takes ownership of bioRecordA and files it under its hash key. Throws "A BioRecord with this
  // instance and modality already exists." when that key is taken (the caller keeps the record).
  void addBioRecord(BioRecordImp* bioRecordA);
  // Adds a copy of templateA to the biometric record of (modalityA, instanceA), created when
  // missing, with BioRecordImp::addTemplate's checks and merging. The caller keeps templateA.
  void addTemplate(const TemplateImp* templateA, Modality modalityA, Instance instanceA);
  // Files blockA (owned from then on) in the template with sampleIdA of the biometric record of
  // (modalityA, instanceA); record and template are created when missing. On failure the caller
  // keeps the block and nothing is left created.
  void addTemplateBlock(TemplateBlockImp* blockA, Modality modalityA, Instance instanceA,
                        KXuint128 sampleIdA);
  // Adds copies of everything in otherA (in hash-key order: templates of present biometric
  // records through addTemplate, other biometric records whole), then deletes otherA and sets
  // it to null. Key and sId of this record stay. When a clash throws, otherA is left alone.
  void merge(IdRecordImp*& otherA);

  // --- access ---
  unsigned int nBioRecords() const { return static_cast<unsigned int>(bioRecordsM.size()); }
  // The indexA-th biometric record in hash-key order.
  const BioRecordImp* getBioRecord(unsigned int indexA) const;
  // The biometric record of (modalityA, instanceA); when there is none, throws when throwA is
  // set, else null.
  BioRecordImp* getBioRecord(Modality modalityA, Instance instanceA, bool throwA);
  const BioRecordImp* getBioRecord(Modality modalityA, Instance instanceA, bool throwA) const;
  // The template named by keyA; modality or instance 65535 are refused.
  TemplateImp* getTemplateByKey(const TemplateKey& keyA);
  const TemplateImp* getTemplateByKey(const TemplateKey& keyA) const;
  // The block of algorithmA of the template named by keyA (getTemplateByKey's exceptions pass
  // through); when the template has none, throws when throwA is set, else null.
  const TemplateBlockImp* getTemplateBlock(const TemplateKey& keyA, Algorithm algorithmA,
                                           bool throwA) const;
  // One key per template: of (modalityA, instanceA); of every instance of modalityA when
  // instanceA is 65535; of everything when both are 65535 (modality 65535 with a definite
  // instance throws). Keys carry the records' actual modality and instance.
  std::vector<TemplateKey> getTemplateKeys(Modality modalityA, Instance instanceA) const;
  bool hasTemplateBlock(const BioMetricTriple& tripleA) const;
  // The sample id of the indexA-th template of (modalityA, instanceA); false when there is none.
  bool getSampleIdByIndex(Modality modalityA, Instance instanceA, unsigned int indexA,
                          KXuint128& idA) const;
  void setSampleIdByIndex(Modality modalityA, Instance instanceA, unsigned int indexA,
                          KXuint128 idA);

  // --- removal ---
  void deleteBioRecord(Modality modalityA, Instance instanceA);
  // Deletes the template named by keyA; true when it was found, and true when there is no
  // biometric record for its modality and instance. An emptied biometric record stays.
  bool deleteTemplate(const TemplateKey& keyA);
  // Both 65535: reset() and true. Modality 65535 with a definite instance: deletes nothing and
  // yields false. Otherwise deletes the biometric records of modalityA (every instance when
  // instanceA is 65535, else only instanceA) and yields whether any was deleted.
  bool deleteTemplates(Modality modalityA, Instance instanceA);
  // Key (0, 0), no sId, no biometric records.
  void reset();

  // --- persistence and text ---
  std::ostream& write(std::ostream& osA) const;
  std::istream& read(std::istream& isA);
  // The stream forms on a binary file; "Cannot open file : <name>" when it cannot be opened.
  void write(const std::string& fileNameA) const;
  void read(const std::string& fileNameA);
  // Wrapping sum of the biometric records' checksums.
  unsigned int checksum() const;
  // A short listing: key, sId size and the biometric records' listings.
  void info(std::ostream& osA) const;

  static constexpr unsigned short kVersion = 5;

 private:
  void readRecord(std::istream& isA);
  void deleteBioRecords();
  BioRecordImp* findOrCreate(Modality modalityA, Instance instanceA, bool& createdA);

  std::map<unsigned int, BioRecordImp*> bioRecordsM;
  IdRecordKey keyM;
  std::unique_ptr<char[]> sIdDataM;
  unsigned short sIdSizeM = 0;
};

}  // namespace qridy
