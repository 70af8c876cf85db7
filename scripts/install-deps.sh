#!/usr/bin/env bash
# Installs every Debian package that building, running and testing need.
# Quick when everything is there already: apt is only asked when a package is missing.
set -euo pipefail

PACKAGES=(
  # build
  build-essential cmake pkg-config
  # GUI class library, fonts, file types, icons and the desktop's "open"
  qt6-base-dev libgl-dev fonts-liberation fonts-dejavu-core
  # the control pictures (U+2400...) the text view shows for control bytes
  fonts-freefont-ttf
  shared-mime-info adwaita-icon-theme xdg-utils
  # libraries called directly
  zlib1g-dev
  # LAME under the MP3 encoder library's stream functions (the WAV to MP3 converter)
  libmp3lame-dev
  # JPEG 2000 under our own jas_* layer
  libopenjp2-7-dev
  zlib1g-dev libtiff-dev libjpeg62-turbo-dev libpng-dev
  # the PDF viewer (Poppler), the media players (Qt Multimedia over GStreamer,
  # with the plugins for MP3, WMA, WMV, MPEG-1, AVI, MIDI and RealMedia) and
  # the print dialog (Qt Print Support comes with qt6-base-dev)
  libpoppler-qt6-dev qt6-multimedia-dev
  gstreamer1.0-plugins-good gstreamer1.0-plugins-ugly gstreamer1.0-plugins-bad gstreamer1.0-libav
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-dev
  # a display for the real window
  xvfb xauth
  # tools that made fixtures and that benchmarks measure against
  netpbm xxd zip unzip p7zip-full fastjar
  # lhasa extracts LZH archives: the peer of the lzh_extract benchmark and the
  # reference of the LHA tests; unar reads the ZOO test archives back
  lhasa unar
  # unrtf reads the document of the rtf_load benchmark
  unrtf
  # rename is the peer of the rename_files benchmark
  rename
  # ImageMagick writes the pictures of the decode benchmarks
  imagemagick
  # gifsicle and giflib's gifbuild write the GIF fixtures and the animation of
  # the gif_decode benchmark (netpbm's pamtogif and giftopnm and ImageMagick's
  # convert -coalesce the rest and the references); gifsicle also checks the
  # GIFs our writers make
  gifsicle giflib-tools
  # OpenJPEG's tools code and decode the picture of the jp2_decode benchmark
  libopenjp2-tools
  # libtiff, libjpeg-turbo and exiftool tools: TIFF and JPEG fixtures, djpeg as a peer
  libtiff-tools libjpeg-turbo-progs libimage-exiftool-perl
  # pdftotext reads back the text of printed PDF files in tests
  poppler-utils
  # the OLE container's converter of word-processor, spreadsheet and
  # presentation documents (LibreOffice headless, no display needed);
  # python3-uno writes the password-protected office fixtures
  libreoffice-core-nogui libreoffice-writer-nogui libreoffice-calc-nogui libreoffice-impress-nogui
  python3-uno
  # the PDF, sound and video fixtures (pdftoppm of poppler-utils is the pdf_view
  # benchmark's peer)
  qpdf sox lame ffmpeg
  # gio trash, the peer of the shell_trash benchmark; gsettings and the desktop
  # background's schema, through which the image pane sets the wallpaper
  libglib2.0-bin gsettings-desktop-schemas
  # fig2dev writes the EMF fixtures of the image pane's tests
  fig2dev
  # xdotool clicks through the real window in manual checks under Xvfb
  xdotool
  # the gzip, compress, TAR and text-archive fixtures and the peers of the
  # gzip_tar benchmark: gzip, compress/uncompress (ncompress), tar, bsdtar
  # (libarchive-tools), uuencode/uudecode (sharutils), uuenview/uudeview
  # (uudeview), mpack/munpack (mpack)
  gzip ncompress tar libarchive-tools sharutils uudeview mpack
  # cabinets are decoded by libmspack, RAR archives by libarchive
  libmspack-dev libarchive-dev
  # the ARC, cabinet and RAR fixtures and the arc_cab_rar benchmark's peers:
  # arc and nomarch (ARC), gcab and cabextract (cabinets), bsdtar (RAR)
  # (bsdtar's libarchive-tools is listed above)
  arc nomarch gcab cabextract
  # arj writes the ARJ fixtures and is the peer of ARJ extraction's speed check
  arj
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
fi
echo "Installing: ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
