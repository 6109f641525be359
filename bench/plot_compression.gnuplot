# Ratio (compressed / original) against compression speed, one panel per
# tree, from the TSV compare_compression.sh writes:
#   gnuplot -e "tsv='compression.tsv'; png='compression.png'" plot_compression.gnuplot
set terminal pngcairo size 1400,650 font ",10" noenhanced
set output png
set datafile separator "\t"
set multiplot layout 1,2
set logscale x
set grid
set xlabel "compression MB/s (one thread, log scale)"
set ylabel "output / input (smaller is better)"
set key top left
# Room on the right for the labels of the fastest points.
set offsets graph 0, graph 0.25, graph 0.03, graph 0.03
is(kind, name) = strstrt(name, kind) == 1
do for [tree in "real generated"] {
  set title sprintf("%s files", tree)
  plot tsv skip 1 using (strcol(1) eq tree && is("tuk-", strcol(2)) ? $6 : NaN):5 \
         with linespoints pt 7 lc rgb "#1f77b4" title "tuk levels 1-9", \
       '' skip 1 using (strcol(1) eq tree && (is("lzo1x", strcol(2)) || is("lz4_fast", strcol(2))) ? $6 : NaN):5 \
         with points pt 5 ps 1.5 lc rgb "#d62728" title "liblzo2 and liblz4 per segment", \
       '' skip 1 using (strcol(1) eq tree && strstrt(strcol(2), "(tar)") ? $6 : NaN):5 \
         with points pt 9 ps 1.5 lc rgb "#2ca02c" title "tools on a tar", \
       '' skip 1 using (strcol(1) eq tree && is("tuk pack", strcol(2)) ? $6 : NaN):5 \
         with points pt 13 ps 1.5 lc rgb "#9467bd" title "tuk pack", \
       '' skip 1 using (strcol(1) eq tree ? $6 : NaN):5:2 with labels offset 0.8,0.6 left \
         font ",8" notitle
}
unset multiplot
