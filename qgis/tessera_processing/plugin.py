"""The plugin: registers the provider with Processing (in QGIS and in qgis_process)."""

from qgis.core import QgsApplication

from .provider import TesseraProvider


class TesseraPlugin:
    def __init__(self, iface=None):
        self.iface = iface
        self.provider = None

    def initProcessing(self):  # noqa: N802
        if self.provider is None:
            self.provider = TesseraProvider()
            QgsApplication.processingRegistry().addProvider(self.provider)

    def initGui(self):  # noqa: N802
        self.initProcessing()

    def unload(self):
        if self.provider is not None:
            QgsApplication.processingRegistry().removeProvider(self.provider)
            self.provider = None
