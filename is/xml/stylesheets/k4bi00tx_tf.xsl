<?xml version="1.0" encoding="UTF-8"?>
<!--
  Arranges the classification document after every refresh; the output
  replaces the whole document. The inbox New is copied as it is: its types
  are not yet described. Every described type (an element holding an ESType
  child) found anywhere else under Installation is gathered into Classified,
  grouped by class in the order Device, TObject, Package, ProcessingUnit,
  Program, SubObj, ProjectGlobal, Library, GenericObject, then any other
  class name alphabetically, and within a class by ESType/@ESName without
  regard to A-Z case; types with equal names keep their document order.
  Queries find a type anywhere by its ESID, so this arrangement only serves
  people browsing the installed types by class. Unclassified keeps whatever
  is not a described type (normally nothing), other children of Installation
  follow Classified unchanged, and whitespace-only text directly under
  Installation or Classified is dropped because the reordering would leave
  it out of place. A document without Installation becomes the empty
  skeleton. Applying the stylesheet to its own output changes nothing, so
  arranging an already arranged document leaves its text as it was.
-->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="xml" encoding="UTF-8" indent="no"/>

  <!-- The known classes in browsing order, each name fenced by '|'. -->
  <xsl:variable name="classOrder"
                select="'|Device|TObject|Package|ProcessingUnit|Program|SubObj|ProjectGlobal|Library|GenericObject|'"/>
  <xsl:variable name="upper" select="'ABCDEFGHIJKLMNOPQRSTUVWXYZ'"/>
  <xsl:variable name="lower" select="'abcdefghijklmnopqrstuvwxyz'"/>

  <!-- The elements holding an ESType child, found by identity. Asking an
       ancestor for its ESType child directly would scan all children of
       Unclassified and Classified once per type, so arranging would grow
       with the square of the number of types; the key is built in one pass. -->
  <xsl:key name="described" match="*[ESType]" use="generate-id()"/>

  <!-- Comments and instructions outside the document element stay; any
       document element other than Installation gives way to the skeleton. -->
  <xsl:template match="/">
    <xsl:for-each select="node()">
      <xsl:choose>
        <xsl:when test="self::Installation">
          <xsl:apply-templates select="." mode="arrange"/>
        </xsl:when>
        <xsl:when test="self::*">
          <xsl:call-template name="skeleton"/>
        </xsl:when>
        <xsl:otherwise>
          <xsl:copy-of select="."/>
        </xsl:otherwise>
      </xsl:choose>
    </xsl:for-each>
    <xsl:if test="not(*)">
      <xsl:call-template name="skeleton"/>
    </xsl:if>
  </xsl:template>

  <xsl:template name="skeleton">
    <Installation><New/><Unclassified/><Classified/></Installation>
  </xsl:template>

  <xsl:template match="Installation" mode="arrange">
    <!-- The described types outside New; a type nested in the description of
         another type belongs to that type and moves with it. -->
    <xsl:variable name="types"
                  select=".//*[ESType][not(ancestor::New[parent::Installation])][not(ancestor::*[key('described', generate-id())][ancestor::Installation])]"/>
    <Installation>
      <xsl:copy-of select="@*"/>
      <xsl:choose>
        <xsl:when test="New">
          <xsl:copy-of select="New[1]"/>
        </xsl:when>
        <xsl:otherwise>
          <New/>
        </xsl:otherwise>
      </xsl:choose>
      <Unclassified>
        <xsl:copy-of select="Unclassified[1]/@*"/>
        <xsl:apply-templates select="Unclassified[1]/node()" mode="keep"/>
      </Unclassified>
      <Classified>
        <xsl:copy-of select="Classified[1]/@*"/>
        <xsl:for-each select="$types">
          <xsl:sort select="not(contains($classOrder, concat('|', name(), '|')))"/>
          <xsl:sort select="string-length(substring-before($classOrder, concat('|', name(), '|')))"
                    data-type="number"/>
          <xsl:sort select="name()"/>
          <xsl:sort select="translate(ESType/@ESName, $upper, $lower)"/>
          <xsl:copy-of select="."/>
        </xsl:for-each>
        <xsl:apply-templates mode="keep"
                             select="Classified[1]/node()[not(self::*[ESType])][not(self::text()[normalize-space() = ''])]"/>
      </Classified>
      <xsl:apply-templates mode="keep"
                           select="node()[not(self::New and not(preceding-sibling::New))][not(self::Unclassified and not(preceding-sibling::Unclassified))][not(self::Classified and not(preceding-sibling::Classified))][not(self::text()[normalize-space() = ''])]"/>
    </Installation>
  </xsl:template>

  <!-- Copies content unchanged except for the described types, which have
       been gathered into Classified. -->
  <xsl:template match="@*|node()" mode="keep">
    <xsl:copy>
      <xsl:apply-templates select="@*|node()" mode="keep"/>
    </xsl:copy>
  </xsl:template>

  <xsl:template match="*[ESType]" mode="keep"/>
</xsl:stylesheet>
