"""The declarations every released image must carry, signed or not."""
import pefile

from conftest import ROOT

MANIFEST = ROOT / "resources" / "choco-gui-setup.exe.manifest"
FLAGS = {
    "IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE": 0x0040,
    "IMAGE_DLLCHARACTERISTICS_NX_COMPAT": 0x0100,
    "IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE": 0x8000,
}


def check_image(path):
    """Every declaration the released file must carry; reused on signed copies."""
    pe = pefile.PE(str(path))
    header, optional = pe.FILE_HEADER, pe.OPTIONAL_HEADER
    assert header.Machine == pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"]
    assert optional.Magic == pefile.OPTIONAL_HEADER_MAGIC_PE
    assert optional.Subsystem == pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_CUI"]
    assert (optional.MajorOperatingSystemVersion, optional.MinorOperatingSystemVersion) == (6, 0)
    assert (optional.MajorSubsystemVersion, optional.MinorSubsystemVersion) == (6, 0)
    for name, bit in FLAGS.items():
        assert optional.DllCharacteristics & bit, name
    assert not header.Characteristics & pefile.IMAGE_CHARACTERISTICS["IMAGE_FILE_RELOCS_STRIPPED"]
    assert pe.DIRECTORY_ENTRY_BASERELOC, "no relocations: ASLR could not move the image"
    assert header.TimeDateStamp == 0

    assert [entry.dll.decode().upper() for entry in pe.DIRECTORY_ENTRY_IMPORT] == ["KERNEL32.DLL"]

    resources = [
        (kind.id, name.id, lang.id, lang.data.struct)
        for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries
        for name in kind.directory.entries
        for lang in name.directory.entries
    ]
    assert [r[:3] for r in resources] == [(24, 1, 1033)]
    data = resources[0][3]
    embedded = pe.get_data(data.OffsetToData, data.Size)
    assert embedded == MANIFEST.read_bytes()
    return pe
