"""The Processing provider "Tessera_V2" (id tessera), as the GRASS and SAGA providers wrap
their programs: one setting names the tool, the algorithms are built from what it describes."""

from qgis.core import QgsProcessingProvider, QgsSettings

from . import batchtool
from .algorithm import SegmentAndCross

try:  # the Processing framework's settings dialog, where it is loaded
    from processing.core.ProcessingConfig import ProcessingConfig, Setting
except ImportError:  # pragma: no cover - PyQGIS without the Processing plugin
    ProcessingConfig = None


class TesseraProvider(QgsProcessingProvider):
    def id(self):
        return "tessera"

    def name(self):
        return "Tessera_V2"

    def longName(self):  # noqa: N802
        return "Tessera_V2 (tessera-batch)"

    def load(self):
        if ProcessingConfig is not None:
            ProcessingConfig.addSetting(Setting(
                self.name(), batchtool.SETTING, "tessera-batch executable (empty: on PATH)", "",
                valuetype=Setting.FILE))
            ProcessingConfig.readSettings()
        self.refreshAlgorithms()
        return True

    def unload(self):
        if ProcessingConfig is not None:
            ProcessingConfig.removeSetting(batchtool.SETTING)

    def tool(self):
        return batchtool.find_tool(str(QgsSettings().value(batchtool.SETTING_KEY, "") or ""))

    def loadAlgorithms(self):  # noqa: N802
        tool = self.tool()
        description = batchtool.describe(tool) if tool else None
        self.addAlgorithm(SegmentAndCross(tool, description))

    # The tool writes GeoTIFFs and CSV tables.
    def supportedOutputRasterLayerExtensions(self):  # noqa: N802
        return ["tif"]

    def supportedOutputVectorLayerExtensions(self):  # noqa: N802
        return ["csv"]

    def supportedOutputTableExtensions(self):  # noqa: N802
        return ["csv"]

    def defaultRasterFileExtension(self):  # noqa: N802
        return "tif"

    def defaultVectorFileExtension(self, hasGeometry=True):  # noqa: N802
        return "csv"
