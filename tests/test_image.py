"""What the shipped image declares to Windows, read from the i686 build."""
import xml.etree.ElementTree as ET

from conftest import BUILD, IMAGE, built
from pe_checks import MANIFEST, check_image


def test_image_declarations():
    check_image(built(IMAGE))


def test_image_is_small():
    # The unsigned build: a signature adds the publisher's certificates.
    # A static build on the C++ standard library is about 1 MB.
    assert built(BUILD / "i686" / "choco-gui-setup.exe").stat().st_size < 8 * 1024


def test_manifest_requires_administrator_and_nothing_else():
    raw = MANIFEST.read_bytes()
    assert len(raw) == 392
    assert raw.count(b"\r\n") == raw.count(b"\n"), "every line ends in CR LF"
    raw.decode("utf-8")
    assert raw.startswith(b'<?xml version="1.0" encoding="UTF-8" standalone="yes"?>')

    v1, v3 = "{urn:schemas-microsoft-com:asm.v1}", "{urn:schemas-microsoft-com:asm.v3}"
    root = ET.fromstring(raw)
    assert root.tag == v1 + "assembly"
    assert root.attrib == {"manifestVersion": "1.0"}
    path = [v3 + "trustInfo", v3 + "security", v3 + "requestedPrivileges",
            v3 + "requestedExecutionLevel"]
    element = root
    for tag in path:
        assert [child.tag for child in element] == [tag]
        element = element[0]
    assert element.attrib == {"level": "requireAdministrator", "uiAccess": "false"}
    assert len(element) == 0 and not (element.text or "").strip()
