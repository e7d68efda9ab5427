#pragma once

#include <istream>
#include <ostream>
#include <string>
#include <vector>

#include <quarlen/KXuint128.h>
#include <quarlen/QuarlenExport.h>
#include <quarlen/TemplateImp.h>
#include <quarlen/Types.h>

namespace qridy {

// All templates of one person for one modality and instance (for example every sample of the
// right index finger), owned, in insertion order, each identified by its sample id.
//
// Record layout (format version 1, little-endian, no padding):
//   "BR", version (uint16), modality (uint16), instance (uint16), checksum (uint32: wrapping sum
//   of the templates' checksums), template count N (uint16), N template records.
//
// Errors are kxxcp::Exception (code -1); read and write wrap what they catch behind
// "kxxcp caught: " (or the other introductions); addTemplate throws its messages plain.
//
// Not a base class: the destructor is not virtual.
class QUARLEN_EXPORT BioRecordImp final {
 public:
  BioRecordImp() = default;
  BioRecordImp(Modality modalityA, Instance instanceA)
      : modalityM(modalityA), instanceM(instanceA) {}
  // Copy modality and instance and add a copy of every template through addTemplate (so equal
  // sample ids merge).
  BioRecordImp(const BioRecordImp& otherA);
  BioRecordImp& operator=(const BioRecordImp& otherA);
  ~BioRecordImp();

  // Appends the record's description and those of its templates to textA; true when every
  // template's validate is.
  virtual bool validate(std::string& textA) const;
  // Reads one record (after a reset); the templates are appended as read, without merging.
  // Templates read before a failure stay.
  virtual std::istream& read(std::istream& isA);
  virtual std::ostream& write(std::ostream& osA) const;
  virtual void randomizeFeatures();
  virtual void convertToGalleryAndProbe();

  Modality modality() const { return modalityM; }
  Instance instance() const { return instanceM; }
  // modality + (instance << 16): identity records order their biometric records by it.
  unsigned int hashKey() const { return calculateHashKey(modalityM, instanceM); }
  static unsigned int calculateHashKey(Modality modalityA, Instance instanceA) {
    return static_cast<unsigned int>(modalityA) + (static_cast<unsigned int>(instanceA) << 16);
  }
  // Modality from the low 16 bits, instance from the high 16 bits.
  static void decryptHashKey(unsigned int keyA, Modality& modalityA, Instance& instanceA) {
    modalityA = static_cast<Modality>(keyA & 0xFFFF);
    instanceA = static_cast<Instance>(keyA >> 16);
  }
  // Sets this record's modality and instance from a hash key.
  void decryptHashKey(unsigned int keyA) { decryptHashKey(keyA, modalityM, instanceM); }

  unsigned int nTemplates() const { return static_cast<unsigned int>(templatesM.size()); }

  // Adds templateA, taken for modalityA and instanceA. A record takes its modality and instance
  // from the first template and then refuses others: "Invalid Template (Null Pointer)",
  // "Invalid Template (modality invalid)", "Invalid Template (modality unknown)" (modality 0),
  // "Invalid Template (instance invalid)". A template whose sample id is present already is
  // merged into the present one (copies of its blocks; its metadata only when the present one
  // has none) and deleted; a clash of algorithms throws and leaves blocks merged before the
  // clash in place. On success templateA is null: the record owns the template or has deleted
  // it. On failure the caller keeps it.
  void addTemplate(TemplateImp*& templateA, Modality modalityA, Instance instanceA);
  bool hasTemplateWithId(KXuint128 idA) const;
  // The template with that sample id; throws "Id invalid" (the read-only form adds the modality,
  // instance and id to the message).
  TemplateImp* getTemplateById(KXuint128 idA);
  const TemplateImp* getTemplateById(KXuint128 idA) const;
  // The template at indexA; past the end, throws "Index invalid" when throwA is set, else null.
  TemplateImp* getTemplateByIndex(unsigned int indexA, bool throwA);
  const TemplateImp* getTemplateByIndex(unsigned int indexA, bool throwA) const;
  std::vector<KXuint128> getSampleIds() const;
  // Deletes the first template with that id, keeping the order of the others.
  bool deleteTemplate(KXuint128 idA);
  // Deletes every template and returns how many there were; modality and instance stay.
  unsigned int deleteAllTemplates();
  // Deletes every template; modality and instance stay.
  void reset() { deleteAllTemplates(); }
  // Wrapping sum of the templates' checksums.
  unsigned int checksum() const;
  // A short listing: modality and instance texts and the templates' validation texts.
  void info(std::ostream& osA) const;

  static constexpr unsigned short kVersion = 1;

 private:
  void readRecord(std::istream& isA);

  std::vector<TemplateImp*> templatesM;
  Modality modalityM = ModalityUnknown;
  Instance instanceM = InstanceUnknown;
};

}  // namespace qridy
