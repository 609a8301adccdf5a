<!DOCTYPE qgis PUBLIC 'http://mrcc.com/qgis.dtd' 'SYSTEM'>
<qgis version="3.22.0" styleCategories="Symbology">
  <pipe>
    <provider>
      <resampling enabled="false" zoomedInResamplingMethod="nearestNeighbour" zoomedOutResamplingMethod="nearestNeighbour" maxOversampling="2"/>
    </provider>
    <rasterrenderer type="paletted" band="1" opacity="1" alphaBand="-1" nodataColor="">
      <rasterTransparency>
        <singleValuePixelList>
          <pixelListEntry min="255" max="255" percentTransparent="100"/>
        </singleValuePixelList>
      </rasterTransparency>
      <colorPalette>
        <paletteEntry value="1" color="#fcad70" alpha="255" label="1: b1 s1 (-inf, 5022] · b2 s1 (-inf, 11529]"/>
        <paletteEntry value="2" color="#e35717" alpha="255" label="2: b1 s1 (-inf, 5022] · b2 s2 [11530, 17803]"/>
        <paletteEntry value="3" color="#889911" alpha="255" label="3: b1 s1 (-inf, 5022] · b2 s3 [17804, inf)"/>
        <paletteEntry value="4" color="#c128f9" alpha="255" label="4: b1 s2 [5023, 6610] · b2 s1 (-inf, 11529]"/>
        <paletteEntry value="5" color="#6f9379" alpha="255" label="5: b1 s2 [5023, 6610] · b2 s2 [11530, 17803]"/>
        <paletteEntry value="6" color="#b41574" alpha="255" label="6: b1 s2 [5023, 6610] · b2 s3 [17804, inf)"/>
        <paletteEntry value="7" color="#20cda2" alpha="255" label="7: b1 s3 [6611, 8437] · b2 s1 (-inf, 11529]"/>
        <paletteEntry value="8" color="#c05cbb" alpha="255" label="8: b1 s3 [6611, 8437] · b2 s2 [11530, 17803]"/>
        <paletteEntry value="9" color="#72bd61" alpha="255" label="9: b1 s3 [6611, 8437] · b2 s3 [17804, inf)"/>
        <paletteEntry value="10" color="#f19655" alpha="255" label="10: b1 s4 [8438, inf) · b2 s1 (-inf, 11529]"/>
        <paletteEntry value="11" color="#2a54c0" alpha="255" label="11: b1 s4 [8438, inf) · b2 s2 [11530, 17803]"/>
        <paletteEntry value="12" color="#dbe805" alpha="255" label="12: b1 s4 [8438, inf) · b2 s3 [17804, inf)"/>
      </colorPalette>
    </rasterrenderer>
    <brightnesscontrast brightness="0" contrast="0" gamma="1"/>
    <rasterresampler maxOversampling="2"/>
    <resamplingStage>resamplingFilter</resamplingStage>
  </pipe>
  <blendMode>0</blendMode>
</qgis>
