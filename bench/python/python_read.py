#!/usr/bin/python3
"""multimedia.VideoReader against OpenCV's cv2.VideoCapture and PyAV, on the
same files in the same run: frames to RGB arrays read in order, and 20 frames
by number in random order. Every random frame is checked by content against
the same reader's sequential decode of that frame number, and the number of
exact ones is reported for each reader.

    build/bench/python_read [--frames-scale X]

Prints ratios (the peer's time / ours, so 2.0 means twice as fast) and, with
BENCHRATIO_FILE set (scripts/bench), appends them to the shared table.
Session marker for scripts/bench: benchratio-session-v1
"""

import argparse
import hashlib
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.realpath(__file__))
sys.path.insert(0, os.path.join(os.environ.get("MM_BUILD_DIR", os.path.join(HERE, "..")), "python"))

import numpy as np  # noqa: E402

import multimedia  # noqa: E402

BENCH = "python_read"
RANDOM_FRAMES = 20
REPEATS = 3


def peers():
    """The peer modules, installed first when missing (they are big, and only
    this benchmark needs them)."""
    missing = []
    for module, package in (("cv2", "python3-opencv"), ("av", "python3-av")):
        try:
            __import__(module)
        except ImportError:
            missing.append(package)
    if missing:
        print("installing " + " ".join(missing), file=sys.stderr)
        env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
        subprocess.run(["apt-get", "install", "-y", "-qq", "--no-install-recommends"] + missing, check=True, env=env,
                       stdout=subprocess.DEVNULL)
    import av
    import cv2
    # FFmpeg's warnings about full-range JPEG pixel formats, from both peers.
    av.logging.set_level(av.logging.ERROR)
    return cv2, av


# --- the three readers, each as: open, sequential frames, frame by number ---

class Ours:
    name = "multimedia"

    def __init__(self, path):
        self.reader = multimedia.VideoReader(path)

    def frames(self):
        for frame in self.reader:
            yield frame.array

    def frame(self, index):
        return self.reader[index].array

    def close(self):
        self.reader.close()


class OpenCV:
    name = "OpenCV"

    def __init__(self, path):
        import cv2
        self.cv2 = cv2
        self.capture = cv2.VideoCapture(path)

    def frames(self):
        self.capture.set(self.cv2.CAP_PROP_POS_FRAMES, 0)
        while True:
            ok, bgr = self.capture.read()
            if not ok:
                return
            yield self.cv2.cvtColor(bgr, self.cv2.COLOR_BGR2RGB)

    def frame(self, index):
        # What OpenCV offers for reading a frame by number.
        self.capture.set(self.cv2.CAP_PROP_POS_FRAMES, index)
        ok, bgr = self.capture.read()
        return self.cv2.cvtColor(bgr, self.cv2.COLOR_BGR2RGB) if ok else None

    def close(self):
        self.capture.release()


class PyAV:
    name = "PyAV"

    def __init__(self, path):
        import av
        self.container = av.open(path)
        self.stream = self.container.streams.video[0]

    def frames(self):
        self.container.seek(0)
        for frame in self.container.decode(self.stream):
            yield frame.to_ndarray(format="rgb24")

    def frame(self, index):
        # The usual recipe: seek back to the key frame before the frame's
        # time, then decode on to the first frame at or past it.
        rate = self.stream.average_rate or self.stream.guessed_rate or self.stream.base_rate
        target = int(index / rate / self.stream.time_base)
        start = self.stream.start_time or 0
        self.container.seek(start + target, stream=self.stream, backward=True, any_frame=False)
        for frame in self.container.decode(self.stream):
            if frame.pts is not None and frame.pts - start >= target:
                return frame.to_ndarray(format="rgb24")
        return None

    def close(self):
        self.container.close()


READERS = (Ours, OpenCV, PyAV)


def digest(array):
    return hashlib.blake2b(np.ascontiguousarray(array).tobytes(), digest_size=16).digest() if array is not None else None


def sequential(reader_class, path):
    """Seconds for the whole file read in order (median of repeats), and the
    frames' digests from an untimed pass."""
    reader = reader_class(path)
    digests = [digest(a) for a in reader.frames()]
    times = []
    for _ in range(REPEATS):
        started = time.perf_counter()
        count = sum(1 for _ in reader.frames())
        times.append(time.perf_counter() - started)
        if count != len(digests):
            raise RuntimeError(f"{reader_class.name} read {count} frames of {path}, then {len(digests)}")
    reader.close()
    return statistics.median(times), digests


def random_access(reader_class, path, picks, digests):
    """Seconds for the frames `picks` read by number, and how many of them are
    the frame asked for."""
    times, exact = [], 0
    for repeat in range(REPEATS):
        reader = reader_class(path)
        got = []
        started = time.perf_counter()
        for index in picks:
            got.append(reader.frame(index))
        times.append(time.perf_counter() - started)
        reader.close()
        if repeat == 0:
            exact = sum(1 for index, array in zip(picks, got) if digest(array) == digests[index])
    return statistics.median(times), exact


def batch_access(path, picks, digests):
    """The same frames through get_batch, which reads them in file order."""
    times = []
    for repeat in range(REPEATS):
        reader = multimedia.VideoReader(path)
        started = time.perf_counter()
        batch = reader.get_batch(picks)
        times.append(time.perf_counter() - started)
        reader.close()
        if repeat == 0:
            exact = sum(1 for index, array in zip(picks, batch) if digest(array) == digests[index])
    return statistics.median(times), exact


def make_files(folder, scale):
    n = lambda frames: max(10, int(frames * scale))  # noqa: E731
    files = {
        "MJPEG 1080p AVI": ("mjpeg.avi", f"-f lavfi -i testsrc2=size=1920x1080:rate=25 -frames:v {n(60)} "
                                             "-c:v mjpeg -pix_fmt yuvj420p -q:v 3"),
        "Theora 480p": ("theora.ogv", f"-f lavfi -i testsrc2=size=640x480:rate=25 -frames:v {n(250)} "
                                         "-c:v libtheora -q:v 7 -g 50"),
        # No B-frames: their frame times are being reworked in the GStreamer reader.
        "MPEG-4 480p AVI": ("mpeg4.avi", f"-f lavfi -i testsrc2=size=640x480:rate=25 -frames:v {n(250)} "
                                            "-c:v mpeg4 -q:v 3 -bf 0 -g 50"),
        # With B-frames (x264's default), where a frame's number is not its
        # packet's: how exact is each reader's random access?
        "H.264 480p AVI": ("h264.avi", f"-f lavfi -i testsrc2=size=640x480:rate=25 -frames:v {n(250)} "
                                       "-c:v libx264 -preset veryfast -g 50"),
    }
    made = {}
    for label, (name, options) in files.items():
        path = os.path.join(folder, name)
        subprocess.run(f"ffmpeg -nostdin -v error -y {options} {path}", shell=True, check=True)
        made[label] = path
    return made


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--frames-scale", type=float, default=1.0, help="scale the files' frame counts")
    args = parser.parse_args()
    peers()
    rows = []  # (label, value, goal)
    folder = tempfile.mkdtemp(prefix="python_read_")
    try:
        files = make_files(folder, args.frames_scale)
        for label, path in files.items():
            seconds, digests = {}, {}
            for reader in READERS:
                seconds[reader.name], digests[reader.name] = sequential(reader, path)
                print(f"{label}: {reader.name} sequential {len(digests[reader.name])} frames "
                      f"in {seconds[reader.name]:.3f} s", flush=True)
            faster = min(seconds["OpenCV"], seconds["PyAV"])
            goal = 1.2 if label.startswith("MJPEG") else None if label.startswith("H.264") else 1.0
            rows.append((f"{label} sequential: faster peer / ours", faster / seconds["multimedia"], goal))
            for peer in ("OpenCV", "PyAV"):
                rows.append((f"{label} sequential: {peer} / ours", seconds[peer] / seconds["multimedia"], None))

            count = len(digests["multimedia"])
            picks = random.Random(20).sample(range(count), min(RANDOM_FRAMES, count))
            random_seconds = {}
            for reader in READERS:
                random_seconds[reader.name], exact = random_access(reader, path, picks, digests[reader.name])
                print(f"{label}: {reader.name} {len(picks)} random frames in {random_seconds[reader.name]:.3f} s, "
                      f"{exact} exact", flush=True)
                rows.append((f"{label} random: {reader.name} frames exact (of {len(picks)})", exact,
                             len(picks) if reader is Ours else None))
            rows.append((f"{label} random: OpenCV / ours", random_seconds["OpenCV"] / random_seconds["multimedia"],
                         None if label.startswith("H.264") else 2.0))
            batch_seconds, exact = batch_access(path, picks, digests["multimedia"])
            print(f"{label}: multimedia get_batch of the same frames in {batch_seconds:.3f} s, {exact} exact")
            rows.append((f"{label} random: OpenCV / ours get_batch", random_seconds["OpenCV"] / batch_seconds, None))
            rows.append((f"{label} random: get_batch frames exact (of {len(picks)})", exact, len(picks)))
            rows.append((f"{label} random: PyAV / ours", random_seconds["PyAV"] / random_seconds["multimedia"], None))
    finally:
        shutil.rmtree(folder, ignore_errors=True)
    report(rows)


def report(rows):
    load = os.getloadavg()
    context = f"load {load[0]:.2f} (1 min) {load[1]:.2f} (5 min)"
    print(f"\nRatios of {BENCH} (same run; {context}):")
    lines = []
    for label, value, goal in rows:
        verdict = "-" if goal is None else ("met" if value >= goal else "missed")
        goal_text = "-" if goal is None else f">= {goal:.2f}"
        print(f"  {label:<60} {value:9.3f}  goal {goal_text:<8} {verdict}")
        lines.append(f"{BENCH}\t{label}\t{value:.3f}\t{goal_text}\t{verdict}\n")
    lines.append(f"{BENCH}\t({context})\t\t\t\n")
    if os.environ.get("BENCHRATIO_FILE"):
        with open(os.environ["BENCHRATIO_FILE"], "a") as out:
            out.writelines(lines)


if __name__ == "__main__":
    main()
