# The two commands of the README's Quick start, and the benchmarks.
.PHONY: demo test bench
demo:
	scripts/demo.sh
test:
	scripts/test.sh
bench:
	scripts/bench.sh
