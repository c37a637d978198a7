# Sourced by the benchmark scripts: makes $work a fresh temporary directory
# and runs everything after it as a private user whose home is $work/home
# (the profile directory follows the user database, through nss_wrapper),
# never in the real home. The caller removes $work in its EXIT trap.
work=$(mktemp -d /tmp/nebrix-bench-XXXXXX)
mkdir "$work/home"
echo "bench:x:$(id -u):$(id -g):Bench:$work/home:/bin/sh" > "$work/passwd"
echo "bench:x:$(id -g):" > "$work/group"
export LD_PRELOAD=$(ls /usr/lib/*/libnss_wrapper.so | head -1)
export NSS_WRAPPER_PASSWD=$work/passwd NSS_WRAPPER_GROUP=$work/group
