"""Tessera_V2 for QGIS: a Processing provider that runs tessera-batch."""


def classFactory(iface):  # noqa: N802 (the name QGIS calls)
    from .plugin import TesseraPlugin

    return TesseraPlugin(iface)
