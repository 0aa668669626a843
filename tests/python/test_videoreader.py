"""VideoReader on every kind of file the plugins read: the frames are the
reference host's, in both layouts, and random access finds the same frames as
a sequential read."""

import pathlib
import random

import numpy as np
import pytest

import multimedia
from conftest import KINDS, fnv1a, host_frames

ALL_KINDS = sorted(KINDS) + ["chained.ogv"]


@pytest.mark.parametrize("kind", ALL_KINDS)
def test_frames_are_the_hosts(media, kind):
    path = media(kind)
    for layout, default_layout in (("interleaved", False), ("planar", True)):
        with multimedia.VideoReader(path, layout=layout) as reader:
            frames = [f for f in reader]  # list() would ask len() first
            count = len(reader)
        host = host_frames(path, default_layout)
        assert len(host) > 0
        assert [f.index for f in frames] == list(range(len(host)))
        assert count == len(host)
        assert [f.time for f in frames] == pytest.approx([t for t, _ in host], abs=1e-6)
        assert [fnv1a(f.array) for f in frames] == [h for _, h in host], layout
        if layout == "planar":
            assert all(f.array.flags.f_contiguous for f in frames)
            assert all(np.array_equal(a.array, b.array) for a, b in zip(frames, interleaved))
        interleaved = frames


@pytest.mark.parametrize("kind", ["mjpeg-ff.avi", "raw24.avi", "theora.ogv", "mpeg4.avi", "gray16.mj2", "chained.ogv"])
def test_random_access_matches_sequential(media, kind):
    path = media(kind)
    with multimedia.VideoReader(path) as reader:
        sequential = [f.array.copy() for f in reader]
        n = len(sequential)
        picks = random.Random(kind).sample(range(n), min(n, 8)) + [n - 1, 0, 1, 1]
        for i in picks:
            frame = reader[i]
            assert frame.index == i
            assert np.array_equal(frame.array, sequential[i]), i
        assert np.array_equal(reader[-1].array, sequential[-1])
        times = {}
        for i in picks:
            times[i] = reader[i].time
        for i in picks:
            # The frame shown at its own time and until just before the next.
            for t in (times[i], times[i] + 0.9 / reader.frame_rate):
                frame = reader.read_at(t)
                assert frame.index == i
                assert np.array_equal(frame.array, sequential[i])
        same_size = [i for i in picks if sequential[i].shape == sequential[picks[0]].shape]
        batch = reader.get_batch(same_size)
        assert batch.shape == (len(same_size),) + sequential[picks[0]].shape
        assert batch.dtype == reader.dtype
        for row, i in zip(batch, same_size):
            assert np.array_equal(row, sequential[i])


def test_iterators_keep_their_place(media):
    with multimedia.VideoReader(media("theora.ogv")) as reader:
        sequential = [f.array.copy() for f in reader]
        it = iter(reader)
        first = [next(it) for _ in range(3)]
        reader[15]  # moves the decoder
        rest = list(it)
        got = first + rest
        assert [f.index for f in got] == list(range(len(sequential)))
        assert all(np.array_equal(f.array, s) for f, s in zip(got, sequential))


@pytest.mark.parametrize("kind, plugin, dtype, channels", [
    ("mjpeg-gst.avi", "mjpegaviplugin", np.uint8, 3),
    ("theora.ogv", "gstplugin", np.uint8, 3),
    ("gray16.mj2", "mj2kplugin", np.uint16, 1),
    ("rgb16.mj2", "mj2kplugin", np.uint16, 3),
])
def test_properties(media, kind, plugin, dtype, channels):
    with multimedia.VideoReader(pathlib.Path(media(kind))) as reader:
        assert reader.plugin == plugin
        assert reader.dtype == dtype
        assert reader.channels == channels
        frame = reader[0]
        assert frame.array.dtype == dtype
        assert frame.array.shape == (reader.height, reader.width, channels)
        props = reader.properties
        assert props["Width"] == reader.width and props["Height"] == reader.height
        assert props["FrameRate"] == reader.frame_rate > 0
        assert props["Duration"] == reader.duration > 0
        assert props["VideoCodec"] == reader.codec != ""
        assert props["BitsPerPixel"] == reader.bits_per_pixel
        assert props["IsPluginSuccess"] is True


def test_a_plugin_can_be_named(media):
    with multimedia.VideoReader(media("mjpeg-gst.avi"), plugin="gstplugin") as reader:
        assert reader.plugin == "gstplugin"
        assert reader[3].array.shape == (48, 64, 3)
