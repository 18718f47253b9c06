<?xml version="1.0" encoding="UTF-8"?>
<!--
  Prepares the classification document for an export. The export picks the
  types anywhere by their ESID, so the structure is kept as it is; only the
  whitespace-only text nodes are dropped, so that types taken from a
  hand-edited, indented document carry no layout text into the export.
  Everything else (elements, attributes, text with content, comments and
  processing instructions) is copied unchanged.
-->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="xml" encoding="UTF-8" indent="no"/>
  <xsl:strip-space elements="*"/>

  <xsl:template match="@*|node()">
    <xsl:copy>
      <xsl:apply-templates select="@*|node()"/>
    </xsl:copy>
  </xsl:template>
</xsl:stylesheet>
