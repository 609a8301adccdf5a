"""The algorithm "Segment and cross bands": tessera-batch on the bands of raster layers.

Its parameters are built from the tool's own description (tessera-batch --describe): the
methods, the segment range and the defaults are the tool's, so the two cannot drift apart."""

import os
import shutil

from qgis.core import (
    QgsMapLayer,
    QgsProcessing,
    QgsProcessingAlgorithm,
    QgsProcessingException,
    QgsProcessingLayerPostProcessorInterface,
    QgsProcessingParameterEnum,
    QgsProcessingParameterMultipleLayers,
    QgsProcessingParameterNumber,
    QgsProcessingParameterRasterDestination,
    QgsProcessingParameterString,
    QgsProcessingParameterVectorDestination,
    QgsProcessingUtils,
    QgsProviderRegistry,
)

from . import batchtool

NOT_FOUND = ("tessera-batch was not found: give its path in Processing > Options > Providers > "
             "Tessera_V2, or put it on PATH")


class _Style(QgsProcessingLayerPostProcessorInterface):
    """Styles the class raster by the QGIS style saved beside it, once it is loaded."""

    # Processing keeps only a pointer to a post-processor, and the algorithm that made it is
    # gone by the time the layer is loaded: the post-processors live here, one per style.
    made = {}

    def __init__(self, style):
        super().__init__()
        self.style = style

    @classmethod
    def of(cls, style):
        if style not in cls.made:
            cls.made[style] = cls(style)
        return cls.made[style]

    def postProcessLayer(self, layer, context, feedback):  # noqa: N802
        if layer is not None and os.path.exists(self.style):
            layer.loadNamedStyle(self.style)
            layer.triggerRepaint()


def _source_path(layer):
    """The file a layer reads (without a provider's options): what tessera-batch is given."""
    parts = QgsProviderRegistry.instance().decodeUri(layer.providerType(), layer.source())
    return parts.get("path") or layer.source()


class SegmentAndCross(QgsProcessingAlgorithm):
    BANDS = "BANDS"
    METHOD = "METHOD"
    SEGMENTS = "SEGMENTS"
    MIN_PIXELS = "MIN_PIXELS"
    MAX_CLASSES = "MAX_CLASSES"
    NODATA = "NODATA"
    STRETCH = "STRETCH"
    OUTPUT = "OUTPUT"
    TABLE = "TABLE"

    def __init__(self, tool=None, description=None):
        super().__init__()
        self.tool = tool
        self.description = description

    def createInstance(self):  # noqa: N802
        return SegmentAndCross(self.tool, self.description)

    def name(self):
        return "segmentandcross"

    def displayName(self):  # noqa: N802
        return "Segment and cross bands"

    def shortHelpString(self):  # noqa: N802
        text = ("Segments every band into gray-level segments, crosses the segmented bands "
                "into multi-band codes, eliminates the codes of too few pixels and makes the "
                "rest classes. The class raster (a cloud-optimised GeoTIFF, 255 where a pixel "
                "is in no class) is loaded with its legend; the class table (one row per "
                "class: code, segments and their native values, pixels, area, share) as a "
                "table. The bands must carry one georeference.")
        if self.description is None:
            text += "\n\n" + NOT_FOUND + "."
        return text

    def _methods(self):
        # The methods that need no other option (typed limits need a list per band).
        choices = batchtool.option(self.description, "--method")["choices"]
        return [choice for choice in choices if "needs" not in choice]

    def initAlgorithm(self, config=None):  # noqa: N802
        if self.description is None:
            return  # the tool is missing: processAlgorithm says so
        options = {entry["name"]: entry for entry in self.description["options"]}

        def helped(parameter, name):
            parameter.setHelp(options[name]["help"])
            return parameter

        self.addParameter(helped(QgsProcessingParameterMultipleLayers(
            self.BANDS, "Bands (raster layers in order; each gives all its bands)",
            QgsProcessing.TypeRaster), "--bands"))
        self.addParameter(helped(QgsProcessingParameterEnum(
            self.METHOD, "Segments of each band",
            options=[choice["label"] for choice in self._methods()], defaultValue=0),
            "--method"))
        segments = options["--segments"]
        self.addParameter(helped(QgsProcessingParameterNumber(
            self.SEGMENTS, "Segments per band", QgsProcessingParameterNumber.Integer,
            defaultValue=min(max(4, segments["minimum"]), segments["maximum"]),
            minValue=segments["minimum"], maxValue=segments["maximum"]), "--segments"))
        minimum = options["--min-pixels"]
        keep = QgsProcessingParameterNumber(
            self.MIN_PIXELS, "Minimum pixels of a class (-1 keeps every code)",
            QgsProcessingParameterNumber.Integer, defaultValue=minimum["default"], minValue=-1)
        keep.setHelp(minimum["help"] + "; -1: " + options["--keep-all"]["help"])
        self.addParameter(keep)
        most = options["--max-classes"]
        self.addParameter(helped(QgsProcessingParameterNumber(
            self.MAX_CLASSES, "Most classes", QgsProcessingParameterNumber.Integer,
            defaultValue=most["default"], minValue=most["minimum"], maxValue=most["maximum"]),
            "--max-classes"))
        self.addParameter(helped(QgsProcessingParameterString(
            self.NODATA, "Nodata value of every band (empty: the file's own)", optional=True),
            "--nodata"))
        self.addParameter(helped(QgsProcessingParameterString(
            self.STRETCH, "Stretch MIN,MAX of bands of more than 8 bits (empty: their own range)",
            optional=True), "--stretch"))
        self.addParameter(QgsProcessingParameterRasterDestination(self.OUTPUT, "Classes"))
        self.addParameter(QgsProcessingParameterVectorDestination(
            self.TABLE, "Class table", QgsProcessing.TypeVector))

    def _band_files(self, parameters, context):
        value = parameters.get(self.BANDS)
        items = list(value) if isinstance(value, (list, tuple)) else ([value] if value else [])
        files = []
        for item in items:
            layer = item if isinstance(item, QgsMapLayer) else \
                QgsProcessingUtils.mapLayerFromString(str(item), context)
            # A layer of another kind goes to the tool as it is, which says what is wrong.
            files.append(_source_path(layer) if layer is not None else str(item))
        return files

    def processAlgorithm(self, parameters, context, feedback):  # noqa: N802
        if self.description is None or not self.tool:
            raise QgsProcessingException(NOT_FOUND)
        files = self._band_files(parameters, context)
        if not files:
            raise QgsProcessingException("Give the bands: one raster layer of several bands, "
                                         "or several raster layers")
        method = self._methods()[self.parameterAsEnum(parameters, self.METHOD, context)]
        segments = self.parameterAsInt(parameters, self.SEGMENTS, context)
        minimum = self.parameterAsInt(parameters, self.MIN_PIXELS, context)
        most = self.parameterAsInt(parameters, self.MAX_CLASSES, context)
        nodata = (self.parameterAsString(parameters, self.NODATA, context) or "").strip()
        stretch = (self.parameterAsString(parameters, self.STRETCH, context) or "").strip()
        output = self.parameterAsOutputLayer(parameters, self.OUTPUT, context)
        table = self.parameterAsOutputLayer(parameters, self.TABLE, context)

        stem = os.path.splitext(output)[0]
        written = {stem + ".tif": output, stem + ".tif.aux.xml": output + ".aux.xml",
                   stem + ".qml": stem + ".qml", stem + ".csv": table}
        existing = {path for path in list(written) + list(written.values())
                    if os.path.exists(path)}
        arguments = [self.tool, "--progress", "--out", stem, "--format", "tif,csv,qml"]
        if stretch:
            arguments += ["--stretch", stretch]
        if nodata:
            arguments += ["--nodata", nodata]
        arguments += ["--method", method["value"], "--segments", str(segments)]
        arguments += ["--keep-all"] if minimum < 0 else ["--min-pixels", str(minimum)]
        arguments += ["--max-classes", str(most)]
        for path in files:
            arguments += ["--bands", path]
        feedback.pushCommandInfo(" ".join(arguments))

        outcome = batchtool.run(arguments, feedback)
        if outcome.cancelled:
            feedback.pushInfo("tessera-batch was stopped (exit status {})".format(outcome.status))
            # What this run put in place goes too: a cancelled run leaves no file of its own.
            for path in set(written) | set(written.values()):
                if path not in existing and os.path.exists(path):
                    os.remove(path)
            raise QgsProcessingException("Cancelled: tessera-batch was stopped and left no file")
        if outcome.status != 0:
            message = "\n".join(outcome.errors) or \
                "tessera-batch ended with status {}".format(outcome.status)
            raise QgsProcessingException(message)
        for made, wanted in written.items():
            if made != wanted and os.path.exists(made):
                shutil.move(made, wanted)

        if context.willLoadLayerOnCompletion(output):
            context.layerToLoadOnCompletionDetails(output).setPostProcessor(
                _Style.of(stem + ".qml"))
        return {self.OUTPUT: output, self.TABLE: table}
