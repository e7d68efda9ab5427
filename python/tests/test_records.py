import numpy as np
import pytest

import quarlen


def test_records_travel_as_bytes():
    r = quarlen.face_record(5, 6, np.arange(1, 257, dtype=np.float64))
    assert (r.person, r.transaction) == (5, 6)
    assert r.blocks() == [("face", "faceFrontal", "hgmFloat", 6), ("face", "faceFrontal", "hgmByte", 6)]
    data = r.to_bytes()
    back = quarlen.IdRecord.from_bytes(data)
    assert back.to_bytes() == data
    assert back.validate()[0]
    two = quarlen.IdRecord.read_all(data + quarlen.face_record(1, 2, np.ones(8)).to_bytes())
    assert [(x.person, x.transaction) for x in two] == [(5, 6), (1, 2)]
    with pytest.raises(ValueError, match="hold 2 identity records, not one"):
        quarlen.IdRecord.from_bytes(data * 2)


def test_blocks_from_numpy_arrays_and_bytes():
    blank = quarlen.IdRecord()
    assert (blank.person, blank.transaction) == (0, 0)
    blank.add_block("face", "faceFrontal", "fHgm", np.zeros(16, np.uint8))
    assert blank.blocks() == [("face", "faceFrontal", "fHgm", 1)]
    r = quarlen.IdRecord(person=3, transaction=4)
    codes = np.arange(32, dtype=np.int8)
    r.add_block("face", "faceFrontal", "hgmByte", codes, sample=(1 << 64) + 9)
    r.add_block("face", "faceFrontal", "hgmFloat", np.ones(32, dtype=np.float32).tobytes(),
                sample=(1 << 64) + 9)
    assert r.blocks() == [("face", "faceFrontal", "hgmFloat", (1 << 64) + 9),
                          ("face", "faceFrontal", "hgmByte", (1 << 64) + 9)]
    assert quarlen.IdRecord.from_bytes(r.to_bytes()).blocks() == r.blocks()
    for args, text in [(("voice", "faceFrontal", "hgmByte"), "unknown modality 'voice'"),
                       (("unknown", "faceFrontal", "hgmByte"), "unknown modality 'unknown'"),
                       (("Face", "faceFrontal", "hgmByte"), "unknown modality 'Face'"),
                       (("face", "nose", "hgmByte"), "unknown instance 'nose'"),
                       (("face", "faceFrontal", "hgmBite"), "unknown algorithm 'hgmBite'"),
                       (("face", "faceFrontal", "unknown"), "unknown algorithm 'unknown'"),
                       (("face", "faceFrontal", "fhgm"), "unknown algorithm 'fhgm'")]:
        with pytest.raises(ValueError, match=text):
            r.add_block(*args, codes)
    with pytest.raises(ValueError, match="C-contiguous"):
        r.add_block("face", "faceFrontal", "hgmByte", np.zeros((4, 4), np.int8)[:, 1])


def test_damaged_bytes_raise_the_library_error():
    data = quarlen.face_record(5, 6, np.ones(16)).to_bytes()
    with pytest.raises(quarlen.Error) as caught:
        quarlen.IdRecord.from_bytes(data[:-3])
    e = caught.value
    assert isinstance(e, RuntimeError)
    assert e.message and str(e) == e.message
    assert isinstance(e.code, int)
    assert e.function.startswith("qridy::")


def test_face_records_need_features():
    with pytest.raises(ValueError, match="must not all be 0"):
        quarlen.face_record(1, 2, np.zeros(8))
    with pytest.raises(ValueError, match="one-dimensional"):
        quarlen.face_record(1, 2, np.ones((2, 2)))


def test_engine_scores_a_gallery_array():
    g = np.random.default_rng(1).standard_normal((37, 60)).astype(np.float32)
    g /= np.linalg.norm(g, axis=1)[:, None]
    scores = quarlen.score("hgmFloat", g[3], g)
    assert scores.dtype == np.float32 and scores.shape == (37,)
    np.testing.assert_allclose(scores, 0.5 * (g @ g[3]) + 0.5, rtol=0, atol=1e-5)
    assert quarlen.score("hgmFloat", g[0], g[:0]).shape == (0,)
    with pytest.raises(ValueError, match="two-dimensional"):
        quarlen.score("hgmFloat", g[0], g[0])


def test_query_text_form():
    q = quarlen.QueryText(["region", "flags", "age"])
    assert q.names == ["region", "flags", "age"]
    words = q.compile("region=7 and flags&3 or age in 10..20")
    assert words == [6, 1, 1, 7, 2, 3, 3, 4, 3, 2, 10, 20, 0]
    assert q.to_text(words) == "region = 7 and flags & 3 or age in 10..20"
    with pytest.raises(quarlen.Error) as caught:
        q.compile("regio = 1")
    assert caught.value.message == "Query text, column 1: unknown attribute 'regio'."
    assert caught.value.code == -1
