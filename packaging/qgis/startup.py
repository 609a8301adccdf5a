"""Enables the Tessera_V2 Processing plugin (tessera_processing) for every user of QGIS who has
not chosen otherwise, as QGIS enables its own core plugins: QGIS and qgis_process run this
file from the system's QGIS/QGIS3 data folder before they load the enabled plugins. A user who
disables the plugin keeps it disabled."""

from qgis.core import QgsSettings

_KEY = "PythonPlugins/tessera_processing"
_settings = QgsSettings()
if _settings.value(_KEY) is None:
    _settings.setValue(_KEY, True)
del _settings
