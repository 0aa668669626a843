"""What a frame is: a view of the block the plugin delivered, alive as long as
some array refers to it, read from several threads at once."""

import gc
import os
import threading
import time

import numpy as np
import pytest

import multimedia


def capsule_of(array):
    while isinstance(array.base, np.ndarray):
        array = array.base
    return array.base


@pytest.mark.parametrize("layout", ["interleaved", "planar"])
def test_the_array_is_the_delivered_block(media, layout):
    with multimedia.VideoReader(media("theora.ogv"), layout=layout) as reader:
        frame = reader[3]
    array = frame.array
    # Not NumPy's memory: a view whose base is the capsule owning the frame.
    assert not array.flags.owndata
    assert "multimedia.frame" in repr(capsule_of(array))
    assert np.asarray(frame) is array
    assert array.flags.c_contiguous if layout == "interleaved" else array.flags.f_contiguous
    # The same memory, whichever way it is reached.
    np.asarray(frame)[0, 0, 0] ^= 0xFF
    assert frame.array[0, 0, 0] == np.asarray(frame)[0, 0, 0]
    assert np.asarray(frame, dtype=np.float32).dtype == np.float32


def test_blocks_live_as_long_as_their_arrays(media):
    with multimedia.VideoReader(media("mjpeg-gst.avi")) as reader:
        kept = [f.array[::2, 1:] for f in reader]  # views of views; the frames themselves are dropped
    expected = [a.copy() for a in kept]
    gc.collect()
    # Blocks freed too early would now be reused by these frames of the same size.
    with multimedia.VideoReader(media("theora.ogv")) as other:
        churn = [f.array for f in other]
    assert len(churn) > 0
    for a, e in zip(kept, expected):
        assert np.array_equal(a, e)


def test_readers_on_threads(media):
    paths = [media("theora.ogv"), media("mjpeg-gst.avi"), media("rgb8.mj2")]
    expected = {}
    for p in paths:
        with multimedia.VideoReader(p) as reader:
            expected[p] = [f.array.copy() for f in reader]
    shared = multimedia.VideoReader(media("mpeg4.avi"))
    shared_expected = [f.array.copy() for f in shared]
    failures = []

    def own_reader(path):
        with multimedia.VideoReader(path) as reader:
            got = [f.array for f in reader]
        if len(got) != len(expected[path]) or not all(np.array_equal(a, b) for a, b in zip(got, expected[path])):
            failures.append(path)

    def shared_reader(seed):
        # One reader used by several threads: each call sees a whole frame.
        order = np.random.default_rng(seed).permutation(len(shared_expected))[:10]
        for i in order:
            if not np.array_equal(shared[int(i)].array, shared_expected[i]):
                failures.append(("shared", int(i)))

    threads = [threading.Thread(target=own_reader, args=(p,)) for p in paths * 2]
    threads += [threading.Thread(target=shared_reader, args=(seed,)) for seed in range(3)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    shared.close()
    assert failures == []


@pytest.mark.skipif(not os.environ.get("MM_SCRIPTED_PLUGIN"), reason="the scripted test plugin is built with the tests")
def test_the_interpreter_runs_while_a_frame_is_read(tmp_path):
    # The scripted reader holds frame 0 of a .gate file until this thread,
    # which needs the interpreter, opens the gate.
    gate = tmp_path / "clip.gate"
    gate.write_bytes(b"")
    reader = multimedia.VideoReader(str(gate), plugin=os.environ["MM_SCRIPTED_PLUGIN"])
    got = []
    worker = threading.Thread(target=lambda: got.append(reader[0]))
    worker.start()
    while not os.path.exists(str(gate) + ".waiting") and worker.is_alive():
        time.sleep(0.01)
    (tmp_path / "clip.gate.open").write_bytes(b"")
    worker.join()
    assert len(got) == 1 and got[0].array.max() == 16
