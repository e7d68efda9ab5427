// The Python module quarlen._quarlen: identity records, the multipass matcher, the query text
// form and the match engines, with the library's exception as quarlen.Error.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <qrlcore/Exception.h>
#include <qrlcore/QuarlenInformation.h>
#include <qrlface/ByteMinimalGraph.h>
#include <quarlen/BioRecordImp.h>
#include <quarlen/IdRecordImp.h>
#include <quarlen/ProbeDescriptor.h>
#include <quarlen/QueryLanguage.h>
#include <quarlen/QueryText.h>
#include <quarlen/ResultTreeList.h>
#include <quarlen/StageMatchEngine_Base.h>
#include <quarlen/TemplateBlockImp.h>
#include <quarlen/TemplateImp.h>
#include <quarlen/TemplateMatcherMultipass.h>
#include <quarlen/Types.h>
#include <quarlen/UniqueMetadataContainer.h>
#include <quarlen/Version.h>

namespace py = pybind11;

namespace {

using qridy::IdRecordImp;

// quarlen.Error: set up at import, never freed (it lives as long as the interpreter).
PyObject* errorClassS = nullptr;

// The bytes of a C-contiguous buffer.
std::string bufferBytes(const py::buffer& bufferA, const char* whatA) {
  const py::buffer_info infoL = bufferA.request();
  const auto* bytesL = static_cast<const char*>(infoL.ptr);
  std::size_t sizeL = static_cast<std::size_t>(infoL.itemsize);
  py::ssize_t expectedStrideL = infoL.itemsize;
  for (py::ssize_t d = infoL.ndim - 1; d >= 0; --d) {
    if (infoL.strides[d] != expectedStrideL) {
      throw py::value_error(std::string(whatA) + " must be C-contiguous");
    }
    expectedStrideL *= infoL.shape[d];
    sizeL *= static_cast<std::size_t>(infoL.shape[d]);
  }
  return std::string(bytesL, sizeL);
}

qridy::Modality modalityOf(const std::string& textA) {
  const qridy::Modality mL = qridy::Types::text2Modality(textA.c_str());
  if (mL == qridy::ModalityUnknown || qridy::Types::modality2Text(mL) != textA) {
    throw py::value_error("unknown modality '" + textA + "'");
  }
  return mL;
}
qridy::Instance instanceOf(const std::string& textA) {
  const qridy::Instance iL = qridy::Types::text2Instance(textA.c_str());
  if (qridy::Types::instance2Text(iL) != textA) {
    throw py::value_error("unknown instance '" + textA + "'");
  }
  return iL;
}
// By the written text forms: the reader does not take every written form back ("fHgm").
qridy::Algorithm algorithmOf(const std::string& textA) {
  for (unsigned codeL = 0; codeL < qridy::AlgUnknown; ++codeL) {
    const auto aL = static_cast<qridy::Algorithm>(codeL);
    // Codes without an algorithm have the text "unknown".
    if (textA != "unknown" && qridy::Types::algorithm2Text(aL) == textA) return aL;
  }
  throw py::value_error("unknown algorithm '" + textA + "'");
}

py::int_ sampleInt(const KXuint128& sA) {
  return py::reinterpret_steal<py::int_>(PyNumber_Or(
      PyNumber_Lshift(py::int_(sA.high).ptr(), py::int_(64).ptr()), py::int_(sA.low).ptr()));
}
KXuint128 sampleOf(const py::int_& vA) {
  const py::int_ maskL(0xFFFFFFFFFFFFFFFFull);
  KXuint128 sL;
  sL.low = (vA & maskL).cast<std::uint64_t>();
  sL.high = (py::reinterpret_steal<py::int_>(PyNumber_Rshift(vA.ptr(), py::int_(64).ptr())) & maskL)
                .cast<std::uint64_t>();
  return sL;
}

void addBlock(IdRecordImp& recordA, const std::string& modalityA, const std::string& instanceA,
              const std::string& algorithmA, const std::string& bytesA, const py::int_& sampleA) {
  std::unique_ptr<qridy::TemplateBlockImp> blockL(
      qridy::TemplateBlockImp::createTemplateBlock(algorithmOf(algorithmA)));
  const auto* dataL = reinterpret_cast<const unsigned char*>(bytesA.data());
  const auto sizeL = static_cast<unsigned int>(bytesA.size());
  blockL->setData(dataL, sizeL, dataL, sizeL, false);
  recordA.addTemplateBlock(blockL.get(), modalityOf(modalityA), instanceOf(instanceA),
                           sampleOf(sampleA));
  blockL.release();
}

// One scored block of a candidate.
struct Block {
  std::string modality, instance, algorithm;
  KXuint128 sample;
  float score = 0.0f;
};

// One candidate of an identification, or the answer of a verification.
struct Candidate {
  std::uint64_t person = 0, transaction = 0;
  float score = 0.0f;
  std::vector<Block> blocks;
};

Candidate candidateOf(const qridy::ResultIdRecord& rA) {
  Candidate cL{rA.personId(), rA.transactionId(), rA.getScore(), {}};
  for (const auto& [hashL, bioL] : rA.bioRecords()) {
    qridy::Modality mL;
    qridy::Instance iL;
    qridy::BioRecordImp::decryptHashKey(hashL, mL, iL);
    for (const auto& [sampleL, templateL] : bioL.templates()) {
      for (const auto& [algL, blockL] : templateL.blocks()) {
        cL.blocks.push_back({qridy::Types::modality2Text(mL), qridy::Types::instance2Text(iL),
                             qridy::Types::algorithm2Text(algL), sampleL, blockL.getScore()});
      }
    }
  }
  return cL;
}

// The matcher of one storage and pipeline of a system configuration.
class Matcher {
 public:
  // The configuration file is installed for the whole process.
  Matcher(const std::string& configA, const std::string& storageA, const std::string& pipelineA,
          bool recoverA) {
    kxutl::QuarlenInformation::setConfigFile(configA);
    textM = std::make_unique<qridy::QueryText>(qridy::QueryText::fromConfiguration());
    try {
      matcherM = start(storageA, pipelineA, recoverA);
    } catch (const kxxcp::Exception& e) {
      // A gallery that never held a record has nothing to recover: it starts empty.
      if (!recoverA || e.errorCode() != kNoRegistryCode) throw;
      matcherM = start(storageA, pipelineA, false);
    }
  }

  void enrol(const IdRecordImp& recordA, const std::string& attributesA) {
    std::vector<unsigned int> wordsL(qridy::QueryLanguage::attributeSize() + 1, 0);
    const auto setL = textM->assign(attributesA, wordsL);
    const bool ownFirstL = std::find(setL.begin(), setL.end(), 0u) != setL.end();
    qridy::QueryLanguage queryL;
    queryL.setAttributes(ownFirstL ? wordsL[0] : recordA.transactionId(), wordsL.data() + 1);
    matcherM->addIdRecord(&recordA, &queryL, false);
  }

  std::vector<Candidate> identify(const IdRecordImp& probeA, unsigned int slotA, std::size_t topA,
                                  const std::string& queryA) {
    qridy::ProbeDescriptor descriptorL;
    if (!queryA.empty()) {
      const auto wordsL = textM->compile(queryA);
      descriptorL.setQuery(wordsL.data(), wordsL.size());
    }
    qridy::ResultTreeList resultsL;
    {
      py::gil_scoped_release releaseL;
      matcherM->identifyTransaction(&probeA, slotA, resultsL, &descriptorL);
    }
    std::vector<Candidate> outL;
    for (std::size_t r = 0; r < std::min(topA, resultsL.size()); ++r) {
      outL.push_back(candidateOf(resultsL[r]));
    }
    return outL;
  }

  Candidate verify(const IdRecordImp& probeA, const IdRecordImp& galleryA) {
    py::gil_scoped_release releaseL;
    return candidateOf(matcherM->verify(&probeA, &galleryA));
  }

  std::size_t remove(py::object personA, py::object keyA, py::object queryA) {
    const int givenL = !personA.is_none() + !keyA.is_none() + !queryA.is_none();
    if (givenL != 1) throw py::value_error("give exactly one of person, key and query");
    const std::size_t beforeL = matcherM->numberOfIdRecords();
    if (!personA.is_none()) {
      const auto pL = personA.cast<std::uint64_t>();
      if (!matcherM->exists(pL)) throw py::key_error("person " + std::to_string(pL));
      matcherM->destroyIdRecords(pL);
    } else if (!keyA.is_none()) {
      const auto kL = keyA.cast<std::pair<std::uint64_t, std::uint64_t>>();
      const qridy::IdRecordKey keyL(kL.first, kL.second);
      if (!matcherM->exists(keyL)) {
        throw py::key_error("record " + std::to_string(kL.first) + ":" + std::to_string(kL.second));
      }
      matcherM->destroyIdRecord(keyL);
    } else {
      const auto wordsL = textM->compile(queryA.cast<std::string>());
      matcherM->destroyIdRecordsByQueryLanguage(wordsL.data(), wordsL.size());
    }
    return beforeL - matcherM->numberOfIdRecords();
  }

  std::vector<std::pair<std::uint64_t, std::uint64_t>> select(const std::string& queryA) {
    const auto wordsL = textM->compile(queryA);
    std::vector<qridy::IdRecordKey> keysL;
    matcherM->getUniqueMetadataContainer()->getIdsByQueryLanguage(0, wordsL.data(), keysL);
    std::vector<std::pair<std::uint64_t, std::uint64_t>> outL;
    for (const auto& k : keysL) outL.emplace_back(k.personId, k.transactionId);
    return outL;
  }

  std::pair<bool, std::string> status(int levelA) {
    std::string reportL;
    const bool okL = matcherM->galleryStatus(levelA, reportL);
    return {okL, reportL};
  }

  qrbase::TemplateMatcherMultipass& matcher() { return *matcherM; }
  const qridy::QueryText& queryText() const { return *textM; }

 private:
  static constexpr int kNoRegistryCode = 515;  // "Failed to recover gallery, no cache found."

  static std::unique_ptr<qrbase::TemplateMatcherMultipass> start(const std::string& storageA,
                                                                 const std::string& pipelineA,
                                                                 bool recoverA) {
    auto mL = std::make_unique<qrbase::TemplateMatcherMultipass>();
    mL->init(storageA.c_str(), nullptr, 0, recoverA);
    mL->addMatchingPipeline(pipelineA);
    return mL;
  }

  std::unique_ptr<qridy::QueryText> textM;
  std::unique_ptr<qrbase::TemplateMatcherMultipass> matcherM;
};

// Scores one probe block against every row of a gallery array with the engine of an algorithm.
py::array_t<float> scoreGallery(const std::string& algorithmA, const py::buffer& probeA,
                                const py::buffer& galleryA) {
  const std::string probeL = bufferBytes(probeA, "probe");
  const py::buffer_info infoL = galleryA.request();
  if (infoL.ndim != 2) throw py::value_error("gallery must be a two-dimensional array");
  const std::string galleryL = bufferBytes(galleryA, "gallery");
  const auto rowsL = static_cast<std::size_t>(infoL.shape[0]);
  const std::size_t rowBytesL = rowsL == 0 ? 0 : galleryL.size() / rowsL;
  std::unique_ptr<qridy::StageMatchEngine_Base> engineL(
      qridy::StageMatchEngine_Base::createStageEngine(algorithmOf(algorithmA)));
  py::array_t<float> scoresL(static_cast<py::ssize_t>(rowsL));
  float* outL = scoresL.mutable_data();
  {
    py::gil_scoped_release releaseL;
    // The engines read gallery data in whole 16-byte blocks: rows padded to a multiple of 16.
    const std::size_t strideL = (rowBytesL + 15) & ~std::size_t{15};
    std::vector<unsigned char> paddedL(strideL * rowsL, 0);
    for (std::size_t r = 0; r < rowsL; ++r) {
      std::memcpy(paddedL.data() + r * strideL, galleryL.data() + r * rowBytesL, rowBytesL);
    }
    engineL->setProbeForIdentification(reinterpret_cast<const unsigned char*>(probeL.data()),
                                       static_cast<unsigned int>(probeL.size()));
    for (std::size_t r = 0; r < rowsL; ++r) {
      outL[r] =
          engineL->matchGallery(paddedL.data() + r * strideL, static_cast<unsigned int>(rowBytesL));
    }
    engineL->releaseProbe();
  }
  return scoresL;
}

// A face record: hgmFloat and hgmByte blocks of one feature vector, scaled to unit length.
std::unique_ptr<IdRecordImp> faceRecord(
    std::uint64_t personA, std::uint64_t transactionA,
    py::array_t<float, py::array::c_style | py::array::forcecast> featuresA, py::object sampleA) {
  if (featuresA.ndim() != 1 || featuresA.size() == 0) {
    throw py::value_error("features must be a non-empty one-dimensional array");
  }
  std::vector<float> vL(featuresA.data(), featuresA.data() + featuresA.size());
  double sumL = 0.0;
  for (float x : vL) sumL += static_cast<double>(x) * x;
  if (!(sumL > 0.0)) throw py::value_error("features must not all be 0");
  for (float& x : vL) x = static_cast<float>(x / std::sqrt(sumL));
  std::vector<signed char> bytesL(vL.size());
  kxegm::ByteMinimalGraph::quantize(vL.data(), vL.size(), bytesL.data());
  auto recordL = std::make_unique<IdRecordImp>();
  recordL->setIdRecordKey(qridy::IdRecordKey(personA, transactionA));
  const py::int_ sampleL = sampleA.is_none() ? py::int_(transactionA) : sampleA.cast<py::int_>();
  addBlock(*recordL, "face", "faceFrontal", "hgmByte",
           std::string(reinterpret_cast<const char*>(bytesL.data()), bytesL.size()), sampleL);
  addBlock(*recordL, "face", "faceFrontal", "hgmFloat",
           std::string(reinterpret_cast<const char*>(vL.data()), vL.size() * sizeof(float)),
           sampleL);
  return recordL;
}

std::string recordBytes(const IdRecordImp& recordA) {
  std::ostringstream osL;
  recordA.write(osL);
  return osL.str();
}

std::vector<std::unique_ptr<IdRecordImp>> readRecords(const py::bytes& dataA) {
  std::istringstream isL{std::string(dataA)};
  std::vector<std::unique_ptr<IdRecordImp>> outL;
  while (isL.peek() != std::char_traits<char>::eof()) {
    auto rL = std::make_unique<IdRecordImp>();
    rL->read(isL);
    outL.push_back(std::move(rL));
  }
  return outL;
}

std::string blockRepr(const Block& bA) {
  std::ostringstream osL;
  osL << "Block(modality='" << bA.modality << "', instance='" << bA.instance << "', algorithm='"
      << bA.algorithm << "', score=" << bA.score << ")";
  return osL.str();
}

}  // namespace

PYBIND11_MODULE(_quarlen, m) {
  m.doc() = "Quarlen: biometric identity records, 1:N identification and 1:1 verification";
  m.attr("__version__") = QUARLEN_VERSION_TEXT;

  errorClassS = PyErr_NewExceptionWithDoc(
      "quarlen.Error",
      "A failure of the library: message, code (the library's error code, -1 unless the "
      "operation documents another) and function.",
      PyExc_RuntimeError, nullptr);
  m.add_object("Error", py::handle(errorClassS));
  py::register_exception_translator([](std::exception_ptr pA) {
    try {
      if (pA) std::rethrow_exception(pA);
    } catch (const kxxcp::Exception& e) {
      py::object errorL = py::reinterpret_borrow<py::object>(errorClassS)(e.getMessage());
      errorL.attr("message") = e.getMessage();
      errorL.attr("code") = e.errorCode();
      errorL.attr("function") = e.getFunction();
      PyErr_SetObject(errorClassS, errorL.ptr());
    }
  });

  py::class_<IdRecordImp>(m, "IdRecord",
                          "An identity record: a key (person, transaction) and biometric "
                          "records of template blocks.")
      .def(py::init([](std::uint64_t personA, std::uint64_t transactionA) {
             auto rL = std::make_unique<IdRecordImp>();
             rL->setIdRecordKey(qridy::IdRecordKey(personA, transactionA));
             return rL;
           }),
           py::arg("person") = 0, py::arg("transaction") = 0)
      .def_property(
          "person", [](const IdRecordImp& r) { return r.personId(); },
          [](IdRecordImp& r, std::uint64_t v) { r.setPersonId(v); })
      .def_property(
          "transaction", [](const IdRecordImp& r) { return r.transactionId(); },
          [](IdRecordImp& r, std::uint64_t v) { r.setTransactionId(v); })
      .def(
          "add_block",
          [](IdRecordImp& r, const std::string& modality, const std::string& instance,
             const std::string& algorithm, const py::buffer& data, const py::int_& sample) {
            addBlock(r, modality, instance, algorithm, bufferBytes(data, "data"), sample);
          },
          py::arg("modality"), py::arg("instance"), py::arg("algorithm"), py::arg("data"),
          py::arg("sample") = py::int_(1),
          "Adds a template block whose data are the bytes of a C-contiguous buffer (bytes or "
          "numpy array) to the sample of (modality, instance).")
      .def(
          "blocks",
          [](const IdRecordImp& r) {
            py::list outL;
            for (unsigned i = 0; i < r.nBioRecords(); ++i) {
              const qridy::BioRecordImp* bL = r.getBioRecord(i);
              for (const auto& key : r.getTemplateKeys(bL->modality(), bL->instance())) {
                const qridy::TemplateImp* tL = r.getTemplateByKey(key);
                for (const auto& [algL, blockL] : tL->templateBlockMap()) {
                  outL.append(py::make_tuple(qridy::Types::modality2Text(bL->modality()),
                                             qridy::Types::instance2Text(bL->instance()),
                                             qridy::Types::algorithm2Text(algL),
                                             sampleInt(key.sampleId)));
                }
              }
            }
            return outL;
          },
          "(modality, instance, algorithm, sample) of every block.")
      .def(
          "to_bytes", [](const IdRecordImp& r) { return py::bytes(recordBytes(r)); },
          "The stored binary form.")
      .def_static(
          "from_bytes",
          [](const py::bytes& data) {
            auto listL = readRecords(data);
            if (listL.size() != 1) {
              throw py::value_error("the bytes hold " + std::to_string(listL.size()) +
                                    " identity records, not one");
            }
            return std::move(listL[0]);
          },
          "The record stored in the bytes (exactly one).")
      .def_static("read_all", &readRecords, "Every record of a stream of stored records.")
      .def(
          "validate",
          [](const IdRecordImp& r) {
            std::string textL;
            const bool okL = r.validate(textL);
            return py::make_tuple(okL, textL);
          },
          "(valid, validation text).")
      .def("__repr__", [](const IdRecordImp& r) {
        return "IdRecord(person=" + std::to_string(r.personId()) +
               ", transaction=" + std::to_string(r.transactionId()) +
               ", bio_records=" + std::to_string(r.nBioRecords()) + ")";
      });

  m.def("face_record", &faceRecord, py::arg("person"), py::arg("transaction"), py::arg("features"),
        py::arg("sample") = py::none(),
        "A face record from a feature vector: hgmFloat and hgmByte blocks of the vector scaled "
        "to unit length (sample defaults to the transaction id).");

  py::class_<Block>(m, "Block", "One scored template block of a candidate.")
      .def_readonly("modality", &Block::modality)
      .def_readonly("instance", &Block::instance)
      .def_readonly("algorithm", &Block::algorithm)
      .def_property_readonly("sample", [](const Block& b) { return sampleInt(b.sample); })
      .def_readonly("score", &Block::score)
      .def("__repr__", &blockRepr);

  py::class_<Candidate>(m, "Candidate",
                        "A candidate identity: person, transaction, fused score and the "
                        "scores of its blocks.")
      .def_readonly("person", &Candidate::person)
      .def_readonly("transaction", &Candidate::transaction)
      .def_readonly("score", &Candidate::score)
      .def_readonly("blocks", &Candidate::blocks)
      .def("__repr__", [](const Candidate& c) {
        std::ostringstream osL;
        osL << "Candidate(person=" << c.person << ", transaction=" << c.transaction
            << ", score=" << c.score << ", blocks=" << c.blocks.size() << ")";
        return osL.str();
      });

  py::class_<qridy::QueryText>(m, "QueryText",
                               "The readable text form of queries, e.g. 'region=7 and flags&3 "
                               "or age in 10..20'.")
      .def(py::init<std::vector<std::string>>(), py::arg("names") = std::vector<std::string>{})
      .def_static("from_configuration", &qridy::QueryText::fromConfiguration)
      .def_property_readonly("names", &qridy::QueryText::names)
      .def("compile", &qridy::QueryText::compile, py::arg("text"),
           "The query words of a text (validated).")
      .def(
          "to_text",
          [](const qridy::QueryText& t, const std::vector<unsigned int>& words) {
            return t.toText(words.data(), words.size());
          },
          py::arg("words"));

  py::class_<Matcher>(m, "Matcher",
                      "The multipass matcher of one storage and pipeline of a system "
                      "configuration file (installed for the whole process).")
      .def(py::init<const std::string&, const std::string&, const std::string&, bool>(),
           py::arg("config"), py::arg("storage"), py::arg("pipeline"), py::arg("recover") = true)
      .def(
          "enrol",
          [](Matcher& self, const IdRecordImp& record, py::object attributes) {
            std::string textL;
            if (py::isinstance<py::dict>(attributes)) {
              for (auto item : attributes.cast<py::dict>()) {
                textL += py::str(item.first).cast<std::string>() + "=" +
                         std::to_string(item.second.cast<std::uint32_t>()) + " ";
              }
            } else if (!attributes.is_none()) {
              textL = attributes.cast<std::string>();
            }
            self.enrol(record, textL);
          },
          py::arg("record"), py::arg("attributes") = py::none(),
          "Enrols a record; attributes: a dict or 'name=value, ...' text (a0 defaults to the "
          "transaction id).")
      .def("identify", &Matcher::identify, py::arg("probe"), py::arg("slot") = 0,
           py::arg("top") = 10, py::arg("query") = "",
           "The best candidates for a probe on a probe slot; the GIL is released meanwhile, so "
           "threads identify at once on different slots.")
      .def("verify", &Matcher::verify, py::arg("probe"), py::arg("gallery"))
      .def("remove", &Matcher::remove, py::arg("person") = py::none(), py::arg("key") = py::none(),
           py::arg("query") = py::none(),
           "Removes the records of a person, one (person, transaction) key, or what a query "
           "selects; returns how many went.")
      .def("select", &Matcher::select, py::arg("query"),
           "The (person, transaction) keys a query text selects.")
      .def(
          "compile_query",
          [](const Matcher& self, const std::string& text) {
            return self.queryText().compile(text);
          },
          py::arg("text"))
      .def("status", &Matcher::status, py::arg("level") = 1, "(ok, report) of the gallery.")
      .def_property_readonly("persons",
                             [](Matcher& self) { return self.matcher().numberOfPersons(); })
      .def_property_readonly("records",
                             [](Matcher& self) { return self.matcher().numberOfIdRecords(); })
      .def_property_readonly(
          "slots", [](Matcher& self) { return self.matcher().getMaxNumberOfParallelProbes(); });

  m.def("score", &scoreGallery, py::arg("algorithm"), py::arg("probe"), py::arg("gallery"),
        "The similarity of a probe block to every row of a two-dimensional gallery array, "
        "with the match engine of the algorithm.");
}
