"""Failures raise multimedia.Error subclasses named after their kind, with the
file and the reader's text; what a reader posts without failing is a warning."""

import os
import warnings

import numpy as np
import pytest

import multimedia

SCRIPTED = os.environ.get("MM_SCRIPTED_PLUGIN")
needs_scripted = pytest.mark.skipif(not SCRIPTED, reason="the scripted test plugin is built with the tests")


def test_files_that_cannot_be_read(tmp_path):
    missing = str(tmp_path / "nothing.avi")
    with pytest.raises(multimedia.FileNotFound, match="No such file") as caught:
        multimedia.VideoReader(missing)
    assert isinstance(caught.value, FileNotFoundError) and isinstance(caught.value, multimedia.Error)
    assert missing in str(caught.value)

    unknown = tmp_path / "clip.xyz"
    unknown.write_bytes(b"\0" * 100)
    with pytest.raises(multimedia.FileTypeNotSupported, match="xyz"):
        multimedia.VideoReader(str(unknown))

    garbage = tmp_path / "garbage.avi"
    garbage.write_bytes(b"RIFF" + b"\x07" * 500)
    with pytest.raises(multimedia.Error, match="mjpegaviplugin.*gstplugin"):
        multimedia.VideoReader(str(garbage))

    with pytest.raises(multimedia.PluginNotLoaded):
        multimedia.VideoReader(str(garbage), plugin="noplugin")


def test_misuse(media):
    path = media("mjpeg-gst.avi")
    with pytest.raises(ValueError, match="layout"):
        multimedia.VideoReader(path, layout="rows")
    reader = multimedia.VideoReader(path)
    n = len(reader)
    for index in (n, -n - 1):
        with pytest.raises(IndexError):
            reader[index]
    with pytest.raises(IndexError):
        reader.get_batch([0, n])
    with pytest.raises(IndexError):
        reader.read_at(n / reader.frame_rate + 1)
    with pytest.raises(ValueError):
        reader.read_at(float("nan"))
    frame = reader[0]
    reader.close()
    reader.close()
    assert reader.closed
    with pytest.raises(ValueError, match="closed"):
        reader[0]
    assert frame.array.sum() > 0  # frames outlive their reader


@needs_scripted
def test_open_failure_has_the_devices_kind_and_text(tmp_path):
    path = tmp_path / "clip.missing"
    path.write_bytes(b"")
    with pytest.raises(multimedia.NoVideo, match="clip.missing: NoVideo"):
        multimedia.VideoReader(str(path), plugin=SCRIPTED)


@needs_scripted
def test_warnings_and_failed_frames(tmp_path):
    path = tmp_path / "clip.scripted"
    path.write_bytes(b"")
    reader = multimedia.VideoReader(str(path), plugin=SCRIPTED)
    frames = iter(reader)
    assert [next(frames).array[0, 0, 0] for _ in range(2)] == [16, 17]
    with pytest.warns(multimedia.ReaderWarning, match="FileCorrupt: frame 2 has damaged data"):
        assert next(frames).array.max() == 18
    assert next(frames).index == 3
    # Frame 4 fails: raised, never handed out; the iteration ends with it.
    with pytest.raises(multimedia.ReadFailed, match="frame 4"):
        next(frames)
    with pytest.raises(StopIteration):
        next(frames)
    with pytest.raises(multimedia.ReadFailed):
        reader[4]
    with pytest.raises(multimedia.ReadFailed), pytest.warns(multimedia.ReaderWarning):
        reader.get_batch([0, 4])  # reads on over frame 2
    assert np.all(reader[5].array == 21)
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        with pytest.raises(multimedia.ReaderWarning):
            reader[2]
