# luma IN OUT: writes the 8-bit luma Y' = 0.299 R + 0.587 G + 0.114 B of the
# picture IN, rounded from integer weights exactly as the quality tests
# compute it, as the grey PNG OUT. ImageMagick's "-grayscale Rec601Luma" is
# off by one level on about half of the pixels, so the luma is computed here.
luma() {
  convert "$1" -depth 8 ppm:- | perl -e '
    binmode STDIN; binmode STDOUT; local $/; my $d = <STDIN>;
    $d =~ s/^P6\s+(\d+)\s+(\d+)\s+255\s//s or die "not an 8-bit PPM\n";
    my ($w, $h) = ($1, $2); my @v = unpack("C*", $d); my @y;
    for (my $i = 0; $i < @v; $i += 3) {
      push @y, int((299 * $v[$i] + 587 * $v[$i + 1] + 114 * $v[$i + 2] + 500) / 1000);
    }
    print "P5\n$w $h\n255\n", pack("C*", @y);' |
    convert pgm:- -define png:color-type=0 -strip "$2"
}
