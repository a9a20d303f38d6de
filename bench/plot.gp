# Throughput and latency of the readers (medians over the rounds), from figures.txt.
# gnuplot -e "figures='...'; output='...'" bench/plot.gp
set terminal pngcairo size 1100,480 font "sans,10"
set output output
set multiplot layout 1,2 title "Report path on one emulated tablet (same run, medians over rounds)"
set style data histograms
set style histogram clustered gap 1
set style fill solid 0.8 border -1
set boxwidth 0.9
set grid ytics
set yrange [0:*]
set key top left
# The last value of each key is its median over the rounds; the readers in a fixed order.
readers = "before library hidapi libusb"
pick(suffix) = sprintf("< awk -v s='%s' -v r='%s' '{ v[$1] = $2 } END { n = split(r, a, \" \"); for (i = 1; i <= n; i++) if ((a[i] s) in v) print a[i], v[a[i] s] }' %s", suffix, readers, figures)
pick2(s1, s2) = sprintf("< awk -v s='%s' -v t='%s' -v r='%s' '{ v[$1] = $2 } END { n = split(r, a, \" \"); for (i = 1; i <= n; i++) if ((a[i] s) in v) print a[i], v[a[i] s], v[a[i] t] }' %s", s1, s2, readers, figures)
set title "Throughput, none lost"
set ylabel "reports per second"
plot pick(".throughput") using 2:xtic(1) title "" lc rgb "#3a6ea5"
set title "Latency, completed IN transfer to the reader holding the report"
set ylabel "microseconds"
plot pick2(".latency_median_us", ".latency_p99_us") using 2:xtic(1) title "median" lc rgb "#3a6ea5", \
     pick2(".latency_median_us", ".latency_p99_us") using 3 title "p99" lc rgb "#d08c2a"
unset multiplot
