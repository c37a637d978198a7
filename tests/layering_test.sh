#!/usr/bin/env bash
# Fails when a layer of src/ includes a header of a layer it may not use:
# the layers only point down (console -> trace -> profile -> securestore ->
# crypto; profile -> encoding -> base), and securestore stands on crypto alone.
# The client library sits beside the console and also includes its public
# header (include/nebrix).
src=${1:?usage: layering_test.sh <src directory>}
status=0
for rule in crypto: base: securestore:crypto encoding:base profile:securestore,crypto,encoding,base \
    trace:profile,securestore,crypto,encoding,base console:trace,profile,securestore,crypto,encoding,base \
    client:nebrix,trace,profile,securestore,crypto,encoding,base; do
  layer=${rule%%:*} allowed="$layer,${rule#*:}"
  [ -d "$src/$layer" ] || { echo "$src/$layer: no such layer"; status=1; }
  grep -rnE '^#include "[a-z_]+/' "$src/$layer" | grep -vE "#include \"(${allowed//,/|})/" && status=1
done
exit $status
