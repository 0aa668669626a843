"""multimedia.avi: a recording written from arrays reads back bit for bit,
through avi.File and through the reader plugins; files FFmpeg writes read as
FFmpeg decodes them."""

import subprocess

import numpy as np
import pytest

import multimedia
import multimedia.avi as avi

AUDIO_TYPES = {8: np.uint8, 16: np.int16, 24: np.int32, 32: np.int32}


@pytest.mark.parametrize("bits, channels", [(8, 1), (16, 2), (24, 2), (32, 1)])
def test_round_trip(tmp_path, bits, channels):
    path = str(tmp_path / "recording.avi")
    rng = np.random.default_rng(bits)
    width, height, rate, frames = 37, 21, 12.5, 6  # odd width: padded rows
    video = rng.integers(0, 256, (frames, height, width, 3), dtype=np.uint8)
    per_frame = 22050 * 2 // 25  # the writer's chunk: one frame period of samples
    low, high = (0, 256) if bits == 8 else (-(1 << (bits - 1)), 1 << (bits - 1))
    audio = rng.integers(low, high, (frames * per_frame, channels)).astype(AUDIO_TYPES[bits])
    with avi.AviWriter(path, width, height, rate, audio=(22050, bits, channels)) as out:
        for k in range(frames):
            out.write_frame(video[k])
            out.write_audio(audio[k * per_frame:(k + 1) * per_frame])

    with avi.File(path) as f:
        assert (f.width, f.height, f.frame_count, len(f)) == (width, height, frames, frames)
        assert f.frame_rate == pytest.approx(rate)
        assert (f.audio_rate, f.audio_bits, f.audio_channels) == (22050, bits, channels)
        for k in range(frames):
            assert np.array_equal(f.read_frame(k), video[k])
        assert np.array_equal(f.read_frame(-1), video[-1])
        back = f.read_audio()
        assert back.dtype == AUDIO_TYPES[bits]
        assert np.array_equal(back, audio)
    with multimedia.VideoReader(path) as reader:
        assert np.array_equal(reader.get_batch(range(frames)), video)


def test_audio_cut_mid_chunk_ends_in_silence(tmp_path):
    path = str(tmp_path / "short.avi")
    samples = np.arange(1000, dtype=np.int16).reshape(500, 2)
    with avi.AviWriter(path, 8, 8, 25.0, audio=(8000, 16, 2)) as out:
        out.write_frame(np.zeros((8, 8, 3), np.uint8))
        out.write_audio(samples)
    with avi.File(path) as f:
        back = f.read_audio()
    assert np.array_equal(back[:500], samples)
    assert len(back) == 8000 // 25 * 2 and not back[500:].any()


@pytest.mark.parametrize("kind", ["raw8.avi", "raw16.avi", "raw24.avi", "raw32.avi"])
def test_stored_depths_read_as_the_plugin_delivers(media, kind):
    path = media(kind)
    with avi.File(path) as f, multimedia.VideoReader(path) as reader:
        assert f.bits_per_pixel == int(kind[3:5].rstrip("."))
        assert not f.compressed
        for frame in reader:
            assert np.array_equal(f.read_frame(frame.index), frame.array)
        assert f.read_raw_frame(0).size >= f.width * f.height * f.bits_per_pixel // 8


def test_audio_reads_as_ffmpeg_decodes_it(tmp_path):
    path = str(tmp_path / "tone.avi")
    subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i", "testsrc=size=32x24:rate=10",
                    "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=22050", "-t", "1", "-c:v", "rawvideo",
                    "-pix_fmt", "bgr24", "-c:a", "pcm_s16le", "-ac", "2", path], check=True)
    pcm = subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-i", path, "-f", "s16le", "-"],
                         capture_output=True, check=True).stdout
    with avi.File(path) as f:
        assert f.has_audio and f.audio_rate == 22050
        assert np.array_equal(f.read_audio(), np.frombuffer(pcm, np.int16).reshape(-1, 2))


def test_errors(tmp_path):
    with pytest.raises(avi.AviError) as caught:
        avi.File(str(tmp_path / "none.avi"))
    assert isinstance(caught.value, multimedia.Error)
    assert caught.value.code == 3 and caught.value.text  # OPEN_FAILED, with the library's text
    path = str(tmp_path / "w.avi")
    with avi.AviWriter(path, 4, 4, 10.0) as out:
        with pytest.raises(ValueError, match=r"\(4, 4, 3\)"):
            out.write_frame(np.zeros((4, 5, 3), np.uint8))
        with pytest.raises(ValueError, match="without audio"):
            out.write_audio(np.zeros((4, 1), np.int16))
        out.write_frame(np.zeros((4, 4, 3), np.uint8))
    with pytest.raises(ValueError, match="closed"):
        out.write_frame(np.zeros((4, 4, 3), np.uint8))
    with avi.File(path) as f:
        with pytest.raises(IndexError):
            f.read_frame(1)
        assert f.error_code == 0
