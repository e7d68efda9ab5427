# The library's sources, listed per subsystem folder (one .cpp per class). The folders follow the
# layers of the library; the 'layering' test checks that no folder includes from a layer above it.
set(QUARLEN_SOURCE_FOLDERS
  common frame records gallery scoring results metadata engines_kernels engines engines_face
  engines_iris engines_finger generation multipass)

set(QUARLEN_SOURCES_frame
  src/frame/DllMain.cpp
  src/frame/DomXmlParser.cpp
  src/frame/FaultRecord.cpp
  src/frame/FaultTranslator.cpp
)

set(QUARLEN_SOURCES_records
  src/records/BioRecordImp.cpp
  src/records/IdRecordFingerDecorator.cpp
  src/records/IdRecordImp.cpp
  src/records/TemplateBlockImp.cpp
  src/records/TemplateBlockIrisDecorator.cpp
  src/records/TemplateBlock_Common.cpp
  src/records/TemplateImp.cpp
  src/records/TemplateKey.cpp
  src/records/TemplateMetaDataBase.cpp
  src/records/TemplateMetaDataFace.cpp
  src/records/TemplateMetaDataFinger.cpp
  src/records/TemplateMetaDataIris.cpp
  src/records/Types.cpp
  src/records/IdentityMetadata.cpp
  src/records/QueryLanguage.cpp
)

set(QUARLEN_SOURCES_gallery
  src/gallery/FidAllocState.cpp
  src/gallery/FidFile.cpp
  src/gallery/FidJournal.cpp
  src/gallery/FileManager.cpp
  src/gallery/MultiPartFidFile.cpp
  src/gallery/MultipassFileIO.cpp
  src/gallery/MultipassFileIO_Check.cpp
  src/gallery/MultipassFileIO_Read.cpp
  src/gallery/MultipassFileIO_Recover.cpp
  src/gallery/MultipassFileIO_Write.cpp
)

set(QUARLEN_SOURCES_scoring
  src/scoring/ResultParameter.cpp
  src/scoring/ScoreCurveApi.cpp
  src/scoring/ScoreCurveCurves.cpp
  src/scoring/ScoreCurveFusion.cpp
  src/scoring/ScoreCurveNormalizer.cpp
)

set(QUARLEN_SOURCES_results
  src/results/ResultBioRecord.cpp
  src/results/ResultIdRecord.cpp
  src/results/ResultTemplate.cpp
  src/results/ResultTreeList.cpp
  src/results/ResultTreeCoding.cpp
  src/results/IdentityResult.cpp
  src/results/IdentityResultContainer.cpp
  src/results/IdentityResultFuser.cpp
  src/results/IdentityResultSlots.cpp
)

set(QUARLEN_SOURCES_metadata
  src/metadata/CompiledQuery.cpp
  src/metadata/IdRecordKeyContainerInternels.cpp
  src/metadata/MetadataFile.cpp
  src/metadata/QueryText.cpp
  src/metadata/UniqueMetadataContainer.cpp
)

set(QUARLEN_SOURCES_engines_kernels
  src/engines/kernels/CpuFeatures.cpp
  src/engines/kernels/VectorKernels.cpp
  src/engines/kernels/VectorKernels_Avx2.cpp
  src/engines/kernels/VectorKernels_Avx512.cpp
  src/engines/kernels/VectorKernels_Sse41.cpp
)

set(QUARLEN_SOURCES_engines
  src/engines/SectionWeighting.cpp
  src/engines/StageMatchEngine_Base.cpp
  src/engines/StageMatchEngine_Factory.cpp
)

set(QUARLEN_SOURCES_engines_face
  src/engines/face/Simmatwhitening.cpp
  src/engines/face/StageMatchEngine_Face_HGM.cpp
  src/engines/face/StageMatchEngine_Face_HgmByte.cpp
  src/engines/face/StageMatchEngine_Face_HgmFloat.cpp
  src/engines/face/StageMatchEngine_Face_HgmPyr.cpp
  src/engines/face/StageMatchEngine_Face_HgmPyrByte.cpp
  src/engines/face/StageMatchEngine_Face_HgmPyrFloat.cpp
  src/engines/face/StageMatchEngine_Face_L1Jim.cpp
  src/engines/face/StageMatchEngine_Face_L2Jim.cpp
  src/engines/face/StageMatchEngine_Face_L3Jim.cpp
  src/engines/face/StageMatchEngine_Face_LFA.cpp
  src/engines/face/StageMatchEngine_Face_STA.cpp
  src/engines/face/StageMatchEngine_Face_VFA.cpp
)

set(QUARLEN_SOURCES_engines_iris
  src/engines/iris/IrisMatcherLibrary.cpp
  src/engines/iris/StageMatchEngine_Iris_Base.cpp
  src/engines/iris/StageMatchEngine_Iris_Daugman.cpp
  src/engines/iris/StageMatchEngine_Iris_Daugman_2010.cpp
)

set(QUARLEN_SOURCES_engines_finger
  src/engines/finger/FingerEngineSupport.cpp
  src/engines/finger/StageMatchEngine_FP_FVA.cpp
  src/engines/finger/StageMatchEngine_FP_FVA_old.cpp
  src/engines/finger/StageMatchEngine_FP_L1V.cpp
  src/engines/finger/StageMatchEngine_FP_L2F.cpp
  src/engines/finger/StageMatchEngine_FP_L2F360.cpp
  src/engines/finger/StageMatchEngine_FP_L2Fi.cpp
  src/engines/finger/StageMatchEngine_FP_L2M.cpp
  src/engines/finger/StageMatchEngine_FP_L2V.cpp
)

set(QUARLEN_SOURCES_generation
  src/generation/BioDescriptor.cpp
  src/generation/BioDescriptorList.cpp
  src/generation/DescriptorStream.cpp
  src/generation/EyeDescriptor.cpp
  src/generation/EyeLocator.cpp
  src/generation/FaceDescriptor.cpp
  src/generation/FingerprintDescriptor.cpp
  src/generation/IrisDescriptor.cpp
  src/generation/IrisTemplateGenerator.cpp
  src/generation/QualityResultStruct.cpp
  src/generation/QualityTypes.cpp
  src/generation/TemplateGenerator.cpp
  src/generation/TemplateGenerator_Base.cpp
)

set(QUARLEN_SOURCES_multipass
  src/multipass/FingerprintGallerySupport.cpp
  src/multipass/MultipassConfig.cpp
  src/multipass/PipelineFactory.cpp
  src/multipass/ProbeDescriptor.cpp
  src/multipass/ShardExchange.cpp
  src/multipass/StageWorkers.cpp
  src/multipass/TemplateMatcherMultipass.cpp
  src/multipass/TemplateMatcherMultipass_Pipeline.cpp
  src/multipass/TemplateMatcherMultipass_Pipeline_Common.cpp
  src/multipass/TemplateMatcherMultipass_Pipeline_Finger.cpp
  src/multipass/TemplateMatcherMultipass_Stage.cpp
  src/multipass/TemplateMatcherMultipass_Stage_Common.cpp
  src/multipass/TemplateMatcherMultipass_Stage_Finger.cpp
  src/multipass/TemplateMatcherMultipass_Stage_HGM_norm.cpp
  src/multipass/TemplateMatcherMultipass_Stage_LFA_norm.cpp
  src/multipass/TemplateMatcherMultipass_Stage_MemManager.cpp
  src/multipass/TemplateMatcherMultipass_TemplateContainer.cpp
  src/multipass/Verifier.cpp
  src/multipass/ThreadStruct.cpp
)

set(QUARLEN_SOURCES)
foreach(_folder ${QUARLEN_SOURCE_FOLDERS})
  foreach(_src ${QUARLEN_SOURCES_${_folder}})
    list(APPEND QUARLEN_SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/${_src})
  endforeach()
endforeach()
