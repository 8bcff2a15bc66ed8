"""The demo's update service: a small, complete Verandel service written into
a folder that nginx serves, with real tools (zip, tar, gzip).

    www/index.html                      the website (the status poller probes it)
    www/status/legacy.json, season.json both realms online
    www/patcher/manifest.json           the client's files with their CRC-32, base version 1
    www/patcher/client/...              those files
    www/patcher/patch_qvx.txt           patches 2 (.zip) and 3 (.rgz of a tar)
    www/season/manifest.json, client/   the Season realm's profile files

The manifests leave base_url empty, so the launcher takes its download
addresses from its configuration and the folder fits any port.
"""

import os
import random
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "tests", "e2e"))
from harness import manifest  # noqa: E402

MANIFEST_VERSION = 1
PATCHES = ((2, "patch_0002.zip"), (3, "patch_0003.rgz"))
PATCH_LEVEL = PATCHES[-1][0]
ONLINE = b'{"map":true,"char":true,"login":true}\n'


def noise(seed, size):
    return random.Random(seed).randbytes(size)


def lines(title, count):
    return "".join("%s line %d\n" % (title, i) for i in range(count)).encode()


def client_files(launcher, client):
    """The Legacy client: path -> bytes. qvx_patch.grf and System/ are the
    realm's own files, which land in profiles/legacy/."""
    return {
        "QVX_Launcher.exe": launcher,  # the running build: listed, so no self-update
        "qvx.dll": client,
        "data.grf": noise(1, 4 << 20),
        "qvx_patch.grf": noise(2, 256 << 10),
        "System/iteminfo.lua": lines("-- Legacy item", 400),
        "System/towninfo.lua": lines("-- town", 200),
        "AI/USER_AI/AI.lua": b"-- the homunculus AI\nrequire \"AI\\\\USER_AI\\\\Util\"\n",
        "BGM/01.mp3": noise(3, 96 << 10),
        "Notice.txt": b"Welcome to Verandel.\n",
    }


def season_files():
    """The Season realm's profile: its own archive and item table, and a town
    table equal to Legacy's (which the launcher links instead of downloading)."""
    return {
        "qvx_patch.grf": noise(4, 256 << 10),
        "System/iteminfo.lua": lines("-- Season item", 420),
        "System/towninfo.lua": lines("-- town", 200),
    }


def patch_contents():
    return {
        "patch_0002.zip": {"Notice.txt": b"Welcome to Verandel.\nPatch 2: the summer festival.\n",
                           "BGM/02.mp3": noise(5, 64 << 10)},
        "patch_0003.rgz": {"AI/USER_AI/Util.lua": b"-- helpers of the homunculus AI\n",
                           "Patchnotes/0003.txt": b"Patch 3: balance changes.\n"},
    }


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def write_tree(folder, files):
    for rel, data in files.items():
        write(os.path.join(folder, *rel.split("/")), data)


def make_patch(name, files, staging, target):
    """A .zip by Info-ZIP's zip, an .rgz by tar (ustar) piped through gzip."""
    shutil.rmtree(staging, ignore_errors=True)
    write_tree(staging, files)
    if name.endswith(".zip"):
        subprocess.run(["zip", "-q", "-r", "-X", target, "."], cwd=staging, check=True)
    else:
        tarred = subprocess.run(["tar", "--format=ustar", "-cf", "-", "."], cwd=staging, check=True,
                                stdout=subprocess.PIPE).stdout
        with open(target, "wb") as out:
            subprocess.run(["gzip", "-n", "-c"], input=tarred, stdout=out, check=True)
    shutil.rmtree(staging)


def build(root, launcher_exe, client_exe):
    """Writes the service into root/www (emptied first); returns the folder."""
    www = os.path.join(root, "www")
    shutil.rmtree(root, ignore_errors=True)
    with open(launcher_exe, "rb") as f:
        launcher = f.read()
    with open(client_exe, "rb") as f:
        client = f.read()

    write(os.path.join(www, "index.html"), b"<html><body>Verandel</body></html>\n")
    write(os.path.join(www, "status", "legacy.json"), ONLINE)
    write(os.path.join(www, "status", "season.json"), ONLINE)

    legacy = client_files(launcher, client)
    write_tree(os.path.join(www, "patcher", "client"), legacy)
    write(os.path.join(www, "patcher", "manifest.json"),
          manifest(sorted(legacy.items()), patch_version=MANIFEST_VERSION))
    listing = "// Verandel demo patches: version, file\n" + "".join(
        "%d %s\n" % (version, name) for version, name in PATCHES)
    write(os.path.join(www, "patcher", "patch_qvx.txt"), listing.encode())
    for name, files in patch_contents().items():
        make_patch(name, files, os.path.join(root, "staging"), os.path.join(www, "patcher", name))

    season = season_files()
    write_tree(os.path.join(www, "season", "client"), season)
    write(os.path.join(www, "season", "manifest.json"),
          manifest(sorted(season.items()), patch_version=PATCH_LEVEL))
    return www
