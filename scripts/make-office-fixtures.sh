#!/usr/bin/env bash
# Makes the office documents of the OLE container's tests in
# tests/platform/fixtures/office with LibreOffice itself, from the flat
# OpenDocument texts below. The fixtures are committed, so this only runs
# again when one is added. Needs the converter (scripts/install-deps.sh)
# and python3-uno for the password-protected copies.
#
#   letter.doc   two pages: a red heading band, a line of text; page 2 starts
#                with a blue band
#   sheet.xls    two sheets: "Sales" with a green cell, "Costs" with a blue one
#   slides.ppt   two slides: a red rectangle, then a green one
#   locked.doc, locked.xls   the same documents saved with the password "secret"
#   locked.ppt   slides.ppt whose current-user record carries the token of an
#                encrypted presentation (LibreOffice writes no encrypted ones)
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
out="$here/tests/platform/fixtures/office"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$out"

ns='xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"
 xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0"
 xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0"
 xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0"
 xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0"
 xmlns:svg="urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0"
 xmlns:fo="urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0"'

cat > "$tmp/letter.fodt" <<EOF
<?xml version="1.0" encoding="UTF-8"?>
<office:document $ns office:version="1.3" office:mimetype="application/vnd.oasis.opendocument.text">
 <office:automatic-styles>
  <style:page-layout style:name="pm1">
   <style:page-layout-properties fo:page-width="21cm" fo:page-height="29.7cm" fo:margin-top="2cm"
     fo:margin-bottom="2cm" fo:margin-left="2cm" fo:margin-right="2cm"/>
  </style:page-layout>
  <style:style style:name="Red" style:family="paragraph">
   <style:paragraph-properties fo:background-color="#ff0000"/>
   <style:text-properties fo:font-size="28pt" fo:color="#ffffff"/>
  </style:style>
  <style:style style:name="Blue" style:family="paragraph">
   <style:paragraph-properties fo:break-before="page" fo:background-color="#0000ff"/>
   <style:text-properties fo:font-size="28pt" fo:color="#ffffff"/>
  </style:style>
 </office:automatic-styles>
 <office:master-styles><style:master-page style:name="Standard" style:page-layout-name="pm1"/></office:master-styles>
 <office:body>
  <office:text>
   <text:p text:style-name="Red">Quarterly letter</text:p>
   <text:p>The quick brown fox jumps over the lazy dog.</text:p>
   <text:p text:style-name="Blue">Second page</text:p>
  </office:text>
 </office:body>
</office:document>
EOF

cat > "$tmp/sheet.fods" <<EOF
<?xml version="1.0" encoding="UTF-8"?>
<office:document $ns office:version="1.3" office:mimetype="application/vnd.oasis.opendocument.spreadsheet">
 <office:automatic-styles>
  <style:style style:name="co1" style:family="table-column"><style:table-column-properties style:column-width="5cm"/></style:style>
  <style:style style:name="ro1" style:family="table-row"><style:table-row-properties style:row-height="2cm"/></style:style>
  <style:style style:name="green" style:family="table-cell"><style:table-cell-properties fo:background-color="#00ff00"/></style:style>
  <style:style style:name="blue" style:family="table-cell"><style:table-cell-properties fo:background-color="#0000ff"/></style:style>
 </office:automatic-styles>
 <office:body>
  <office:spreadsheet>
   <table:table table:name="Sales">
    <table:table-column table:style-name="co1" table:number-columns-repeated="2"/>
    <table:table-row table:style-name="ro1">
     <table:table-cell table:style-name="green" office:value-type="string"><text:p>Sales</text:p></table:table-cell>
     <table:table-cell office:value-type="float" office:value="42"><text:p>42</text:p></table:table-cell>
    </table:table-row>
   </table:table>
   <table:table table:name="Costs">
    <table:table-column table:style-name="co1"/>
    <table:table-row table:style-name="ro1">
     <table:table-cell table:style-name="blue" office:value-type="string"><text:p>Costs</text:p></table:table-cell>
    </table:table-row>
   </table:table>
  </office:spreadsheet>
 </office:body>
</office:document>
EOF

cat > "$tmp/slides.fodp" <<EOF
<?xml version="1.0" encoding="UTF-8"?>
<office:document $ns office:version="1.3" office:mimetype="application/vnd.oasis.opendocument.presentation">
 <office:automatic-styles>
  <style:style style:name="red" style:family="graphic"><style:graphic-properties draw:fill="solid" draw:fill-color="#ff0000" draw:stroke="none"/></style:style>
  <style:style style:name="green" style:family="graphic"><style:graphic-properties draw:fill="solid" draw:fill-color="#00ff00" draw:stroke="none"/></style:style>
 </office:automatic-styles>
 <office:body>
  <office:presentation>
   <draw:page draw:name="First">
    <draw:rect draw:style-name="red" svg:x="2cm" svg:y="2cm" svg:width="8cm" svg:height="6cm"><text:p>First slide</text:p></draw:rect>
   </draw:page>
   <draw:page draw:name="Second">
    <draw:rect draw:style-name="green" svg:x="2cm" svg:y="2cm" svg:width="8cm" svg:height="6cm"><text:p>Second slide</text:p></draw:rect>
   </draw:page>
  </office:presentation>
 </office:body>
</office:document>
EOF

profile="file://$tmp/profile"
convert() { # source filter extension
  soffice -env:UserInstallation="$profile" --headless --norestore --convert-to "$3:$2" --outdir "$tmp" "$tmp/$1" >/dev/null 2>&1
}
convert letter.fodt "MS Word 97" doc
convert sheet.fods "MS Excel 97" xls
convert slides.fodp "MS PowerPoint 97" ppt
cp "$tmp/letter.doc" "$tmp/sheet.xls" "$tmp/slides.ppt" "$out/"

# The password-protected copies: LibreOffice stores a document with a
# password only through its programming interface.
cat > "$tmp/lock.py" <<'EOF'
import os, subprocess, sys, time
import uno
from com.sun.star.beans import PropertyValue

def prop(name, value):
    p = PropertyValue()
    p.Name, p.Value = name, value
    return p

profile, jobs = sys.argv[1], sys.argv[2:]
pipe = "fixtures-%d" % os.getpid()
office = subprocess.Popen(["soffice", "-env:UserInstallation=" + profile, "--headless", "--norestore",
                           "--accept=pipe,name=%s;urp;" % pipe], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
context = uno.getComponentContext()
resolver = context.ServiceManager.createInstanceWithContext("com.sun.star.bridge.UnoUrlResolver", context)
for _ in range(150):
    try:
        remote = resolver.resolve("uno:pipe,name=%s;urp;StarOffice.ComponentContext" % pipe)
        break
    except Exception:
        time.sleep(0.2)
else:
    sys.exit("the converter did not answer")
desktop = remote.ServiceManager.createInstanceWithContext("com.sun.star.frame.Desktop", remote)
for source, target, filter_name in zip(jobs[0::3], jobs[1::3], jobs[2::3]):
    doc = desktop.loadComponentFromURL(uno.systemPathToFileUrl(source), "_blank", 0, (prop("Hidden", True),))
    doc.storeToURL(uno.systemPathToFileUrl(target), (prop("FilterName", filter_name), prop("Password", "secret")))
    doc.close(True)
try:
    desktop.terminate()
except Exception:
    pass  # the bridge goes down with the converter
office.wait()
EOF
/usr/bin/python3 "$tmp/lock.py" "$profile" \
  "$tmp/letter.fodt" "$out/locked.doc" "MS Word 97" \
  "$tmp/sheet.fods" "$out/locked.xls" "MS Excel 97"

# The current-user record's token: E391C05F plain, F3D1C4DF encrypted.
/usr/bin/python3 - "$tmp/slides.ppt" "$out/locked.ppt" <<'EOF'
import struct, sys
data = open(sys.argv[1], "rb").read()
plain, encrypted = struct.pack("<I", 0xE391C05F), struct.pack("<I", 0xF3D1C4DF)
assert data.count(plain) == 1, "one current-user token expected"
open(sys.argv[2], "wb").write(data.replace(plain, encrypted))
EOF
ls -l "$out"
