import threading

import numpy as np
import pytest

import quarlen
from conftest import IDENTITIES, features


def probe(person, seed=1):
    return quarlen.face_record(0, 1_000_000 + seed, features(person, noise=1.0, seed=seed))


def test_identify_ranks_the_mate_first(gallery):
    assert (gallery.persons, gallery.records, gallery.slots) == (IDENTITIES, IDENTITIES, 4)
    hits = gallery.identify(probe(17), top=5)
    assert len(hits) == 5
    assert (hits[0].person, hits[0].transaction) == (17, 18)
    assert [h.score for h in hits] == sorted((h.score for h in hits), reverse=True)
    assert sorted(b.algorithm for b in hits[0].blocks) == ["hgmByte", "hgmFloat"]
    assert {b.sample for b in hits[0].blocks} == {18}


def test_query_narrows_identification(gallery):
    assert gallery.identify(probe(17), query="region = 7", top=100)[0].person != 17
    odd = gallery.identify(probe(17), query="flags & 4", top=100)
    assert {h.person % 2 for h in odd} == {1}
    assert odd[0].person == 17
    assert gallery.select("region=3 and a0 < 7") == [(1, 2), (3, 4), (5, 6)]
    assert gallery.compile_query("flags & 4") == [3, 2, 3, 4, 0]


def test_results_as_a_structured_array(gallery):
    hits = gallery.identify(probe(8), top=3)
    a = quarlen.results_array(hits)
    assert a.dtype.names == ("person", "transaction", "score", "hgmByte", "hgmFloat")
    assert list(a["person"]) == [h.person for h in hits]
    assert a["score"][0] == np.float32(hits[0].score)
    assert a["hgmFloat"][0] == np.float32(
        next(b.score for b in hits[0].blocks if b.algorithm == "hgmFloat"))
    assert quarlen.results_array([]).shape == (0,)


def test_verify_agrees_with_identify(gallery):
    p = probe(23)
    mate = gallery.verify(p, quarlen.face_record(23, 24, features(23)))
    stranger = gallery.verify(p, quarlen.face_record(22, 23, features(22)))
    assert mate.person == 23
    assert mate.score == pytest.approx(gallery.identify(p, top=1)[0].score)
    assert mate.score > stranger.score


def test_threads_identify_at_once_on_their_slots(gallery):
    probes = [probe(p, seed=p) for p in range(0, IDENTITIES, 3)]
    expected = [[(h.person, h.score) for h in gallery.identify(x, top=3)] for x in probes]
    got = [None] * len(probes)

    def work(slot):
        for i in range(slot, len(probes), gallery.slots):
            got[i] = [(h.person, h.score) for h in gallery.identify(probes[i], slot=slot, top=3)]

    threads = [threading.Thread(target=work, args=(s,)) for s in range(gallery.slots)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert got == expected


def test_failures_raise_with_message_and_code(gallery):
    with pytest.raises(quarlen.Error) as caught:
        gallery.enrol(quarlen.face_record(1, 2, features(1)))
    assert "(1, 2), because an IdRecord with this person/transactionID already exists" in \
        caught.value.message
    assert caught.value.code == 500
    with pytest.raises(quarlen.Error, match="Given thread index is greater"):
        gallery.identify(probe(1), slot=4)
    with pytest.raises(quarlen.Error, match="unknown attribute 'size'"):
        gallery.identify(probe(1), query="size > 3")
    with pytest.raises(KeyError):
        gallery.remove(person=999)
    with pytest.raises(ValueError, match="exactly one"):
        gallery.remove(person=1, key=(1, 2))


def test_removal_and_restart(tmp_path):
    m = quarlen.open_example(tmp_path, "face")
    for p in range(12):
        m.enrol(quarlen.face_record(p, p + 1, features(p)), {"flags": p})
    m.enrol(quarlen.face_record(3, 100, features(3)))
    assert m.remove(person=3) == 2
    assert m.remove(key=(4, 5)) == 1
    assert m.remove(query="flags in 8..10") == 3
    assert m.status(2)[0]
    del m
    again = quarlen.Matcher(quarlen.example_config(tmp_path), "face", "face")  # recovers
    assert again.records == 7
    assert [k for k, _ in again.select("a0 > 0")] == [0, 1, 2, 5, 6, 7, 11]
    assert again.identify(probe(6), top=1)[0].person == 6
