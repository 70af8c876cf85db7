#!/usr/bin/perl
# Writes the placeable Windows metafiles of tests/imaging/fixtures record by
# record. scripts/make-image-fixtures.sh runs it and renders each file with
# libwmf's wmf2gd as its reference decoding.
#
# Usage: scripts/make-wmf-fixtures.pl OUTDIR
use strict;
use warnings;

my $out = shift or die "usage: $0 OUTDIR\n";

# A record: size in 16-bit words (32 bits), function, parameter words.
sub rec {
    my ($fn, @words) = @_;
    return pack("Vv", 3 + @words, $fn) . pack("v*", map { $_ & 0xFFFF } @words);
}
sub colorref { my ($r, $g, $b) = @_; return ($r | ($g << 8), $b); }

# Parameters are stored in the reverse order of the call's arguments.
sub set_window_org { my ($x, $y) = @_; rec(0x020B, $y, $x) }
sub set_window_ext { my ($x, $y) = @_; rec(0x020C, $y, $x) }
sub brush { my ($style, $r, $g, $b, $hatch) = @_; rec(0x02FC, $style, colorref($r, $g, $b), $hatch // 0) }
sub pen { my ($style, $width, $r, $g, $b) = @_; rec(0x02FA, $style, $width, 0, colorref($r, $g, $b)) }
sub select_object { rec(0x012D, $_[0]) }
sub delete_object { rec(0x01F0, $_[0]) }
sub rectangle { my ($l, $t, $r, $b) = @_; rec(0x041B, $b, $r, $t, $l) }
sub pie {
    my ($l, $t, $r, $b, $x1, $y1, $x2, $y2) = @_;
    rec(0x081A, $y2, $x2, $y1, $x1, $b, $r, $t, $l);
}
sub move_to { my ($x, $y) = @_; rec(0x0214, $y, $x) }
sub line_to { my ($x, $y) = @_; rec(0x0213, $y, $x) }
sub polygon { my @p = @_; rec(0x0324, @p / 2, @p) }
sub polyline { my @p = @_; rec(0x0325, @p / 2, @p) }

# libwmf maps the bounds of what is drawn, not the placeable box, onto its
# picture: a light background over the whole window makes the two agree.
sub background {
    my ($l, $t, $r, $b) = @_;
    return (brush(0, 255, 255, 240), pen(5, 0, 0, 0, 0), select_object(0), select_object(1),
            rectangle($l, $t, $r + 1, $b + 1), delete_object(0), delete_object(1));
}

# The placeable header, the 18-byte metafile header, the records, EOF.
sub metafile {
    my ($file, $left, $top, $right, $bottom, $inch, $objects, @records) = @_;
    my $body = join('', @records) . rec(0x0000);
    my $largest = 3;
    for my $r (@records) { my $w = unpack("V", $r); $largest = $w if $w > $largest; }
    my $header = pack("vvvVvVv", 1, 9, 0x0300, 9 + length($body) / 2, $objects, $largest, 0);
    my @words = (0xCDD7, 0x9AC6, 0, map({ $_ & 0xFFFF } $left, $top, $right, $bottom), $inch, 0, 0);
    my $sum = 0;
    $sum ^= $_ for @words;
    my $placeable = pack("v*", @words, $sum);
    open(my $fh, '>:raw', "$out/$file") or die "$out/$file: $!\n";
    print $fh $placeable, $header, $body;
    close $fh;
}

# Filled shapes with outlines, a thick line and polygons: 1440 units per
# inch over a box of 1440 x 960 units, 96 x 64 pixels at 96 dpi.
metafile('wmf_shapes.wmf', 0, 0, 1440, 960, 1440, 6,
    set_window_org(0, 0), set_window_ext(1440, 960), background(0, 0, 1440, 960),
    brush(0, 255, 0, 0), pen(0, 0, 0, 0, 0), select_object(0), select_object(1),
    rectangle(90, 90, 690, 450),
    brush(0, 0, 0, 255), select_object(2),
    polygon(900, 120, 1200, 120, 1350, 360, 1200, 600, 900, 600, 750, 360),
    pen(0, 45, 0, 160, 0), select_object(3),
    move_to(90, 660), line_to(1350, 900),
    brush(0, 255, 255, 0), select_object(4), select_object(1),
    polygon(150, 900, 450, 600, 690, 900),
    delete_object(3),
);

# A window that does not start at 0 (600 units per inch, 192 x 128
# pixels), a pie, a polyline without fill and a rectangle without outline.
metafile('wmf_window.wmf', -200, 100, 1000, 900, 600, 5,
    set_window_org(-200, 100), set_window_ext(1200, 800), background(-200, 100, 1000, 900),
    brush(0, 0, 200, 200), pen(0, 0, 0, 0, 0), select_object(0), select_object(1),
    rectangle(-150, 150, 350, 450),
    brush(0, 200, 0, 200), select_object(2),
    pie(450, 150, 950, 650, 950, 400, 700, 150),
    pen(0, 20, 0, 0, 180), select_object(3),
    polyline(-150, 850, 100, 550, 350, 850, 600, 550),
    pen(5, 0, 0, 0, 0), select_object(4), select_object(0),
    rectangle(650, 700, 950, 850),
);
