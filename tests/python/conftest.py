"""Shared by the Python tests: media files made at test time by FFmpeg and
GStreamer (the same kinds the C++ tests make), and the reference host's view
of them through `mmtool frames`."""

import os
import subprocess

import pytest

BUILD = os.environ.get("MM_BUILD_DIR", os.path.join(os.path.dirname(__file__), "..", "..", "build"))
MMTOOL = os.path.join(BUILD, "bin", "mmtool")


def _ogv(size, frames, rate, pattern="ball"):
    return (f"gst-launch-1.0 -q videotestsrc num-buffers={frames} pattern={pattern} ! "
            f"video/x-raw,{size},framerate={rate}/1 ! theoraenc ! oggmux ! filesink location={{out}}")


def _mj2(fmt, frames=8):
    return (f"gst-launch-1.0 -q videotestsrc num-buffers={frames} pattern=ball ! "
            f"video/x-raw,format={fmt},width=50,height=38,framerate=30/1 ! openjpegenc ! mj2mux ! "
            "filesink location={out}")


def _raw_avi(pix_fmt):
    return (f"ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=30x20:rate=10 -frames:v 12 "
            f"-c:v rawvideo -pix_fmt {pix_fmt} {{out}}")


# name -> command writing {out}; every kind the plugins read.
KINDS = {
    "mjpeg-gst.avi": ("gst-launch-1.0 -q videotestsrc num-buffers=20 pattern=ball ! "
                      "video/x-raw,width=64,height=48,framerate=10/1 ! jpegenc ! avimux ! filesink location={out}"),
    "mjpeg-ff.avi": ("ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=64x48:rate=25 -frames:v 20 "
                     "-c:v mjpeg -pix_fmt yuvj420p -q:v 4 {out}"),
    "raw8.avi": _raw_avi("pal8"),
    "raw16.avi": _raw_avi("rgb555le"),
    "raw24.avi": _raw_avi("bgr24"),
    "raw32.avi": _raw_avi("bgra"),
    "rgb8.mj2": _mj2("xRGB"),
    "gray16.mj2": _mj2("GRAY16_LE"),
    "rgb16.mj2": _mj2("ARGB64", frames=4),
    "theora.ogv": _ogv("width=64,height=48", 20, 25),
    "mpeg4.avi": ("ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=64x48:rate=25 -frames:v 20 "
                  "-c:v mpeg4 -bf 0 -g 8 {out}"),
}


@pytest.fixture(scope="session")
def media(tmp_path_factory):
    """media(name) -> the path of that file, made on first use."""
    folder = tmp_path_factory.mktemp("media")
    made = {}

    def make(name):
        if name in made:
            return made[name]
        path = str(folder / name)
        if name == "chained.ogv":
            # Two Theora streams of different sizes, one after the other.
            with open(path, "wb") as joined:
                for part in ("width=64,height=48", "width=80,height=60"):
                    piece = str(folder / f"part-{part}.ogv")
                    _run(_ogv(part, 10, 10).format(out=piece))
                    with open(piece, "rb") as f:
                        joined.write(f.read())
        else:
            _run(KINDS[name].format(out=path))
        made[name] = path
        return path

    return make


def _run(command):
    done = subprocess.run(command, shell=True, capture_output=True, text=True, timeout=120)
    if done.returncode != 0:
        pytest.fail(f"{command}\n{done.stderr}")


def host_frames(path, default_layout=False):
    """What the reference host delivers: [(time, fnv1a of the block)] per frame."""
    command = [MMTOOL, "frames", path] + (["--default-layout"] if default_layout else [])
    out = subprocess.run(command, capture_output=True, text=True, timeout=120, check=True).stdout
    frames = []
    for line in out.splitlines():
        fields = line.split()
        if len(fields) > 3 and fields[1].startswith("t=") and fields[3].startswith("fnv1a="):
            frames.append((float(fields[1][2:]), int(fields[3][6:], 16)))
    return frames


def fnv1a(array):
    """The checksum mmtool prints, of an array's bytes in its memory order."""
    data = array.tobytes(order="A")
    h = 0xCBF29CE484222325
    for byte in data:
        h = ((h ^ byte) * 0x100000001B3) & 0xFFFFFFFFFFFFFFFF
    return h
