#!/usr/bin/env bash
# Builds the Debian package from the build folder, checks that it carries every installed piece and
# the run-time dependencies read from the binaries, then unpacks it and starts the unpacked program
# and tools as an installed copy would be started.
#   test_package.sh BUILD_DIR
# Exits 77 (skipped) when the Debian packaging tools are missing.
set -euo pipefail
build=$1

for tool in cpack dpkg-deb dpkg-shlibdeps; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: $tool is not installed"
    exit 77
  fi
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

(cd "$build" && cpack -G DEB -B "$work/out" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; exit 1; }
deb=$(ls "$work"/out/korvelservice_*.deb)

failed=0
contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for path in ./usr/bin/KorvelService ./usr/bin/korvel-cli ./usr/bin/korvel-module-sim \
            ./usr/share/KorvelService/Help/KorvelService_Conent.htm \
            ./usr/share/KorvelService/maps/module-sim-meters.csv \
            ./usr/share/applications/KorvelService.desktop \
            ./usr/share/icons/hicolor/scalable/apps/KorvelService.svg \
            ./usr/share/man/man1/korvel-cli.1 \
            ./usr/bin/korvel-exporter ./usr/share/man/man1/korvel-exporter.1 \
            ./usr/lib/systemd/system/korvel-exporter.service \
            ./usr/share/KorvelService/exporter/prometheus.yml ./usr/share/KorvelService/exporter/korvel-alerts.yml \
            ./usr/share/bash-completion/completions/korvel-cli \
            ./usr/libexec/korvel-cli-report; do
  grep -qxF "$path" <<<"$contents" || { echo "FAIL: the package lacks $path"; failed=1; }
done
grep -q '^./usr/share/metainfo/.*\.metainfo\.xml$' <<<"$contents" || { echo "FAIL: the package lacks its AppStream metainfo"; failed=1; }
grep -q '^./usr/bin/Help' <<<"$contents" && { echo "FAIL: help pages lie among the binaries"; failed=1; }

depends=$(dpkg-deb -f "$deb" Depends)
for package in libqt6core6 libqt6widgets6 libqt6network6 libqt6httpserver6 qt6-qpa-plugins; do
  grep -q "$package" <<<"$depends" || { echo "FAIL: Depends lacks $package: $depends"; failed=1; }
done

root="$work/root"
dpkg-deb -x "$deb" "$root"
"$root/usr/bin/KorvelService" --version | grep -q KorvelService || { echo "FAIL: the unpacked program does not start"; failed=1; }
"$root/usr/bin/korvel-cli" --help >/dev/null || { echo "FAIL: the unpacked korvel-cli does not start"; failed=1; }
"$root/usr/bin/korvel-exporter" --help >/dev/null || { echo "FAIL: the unpacked korvel-exporter does not start"; failed=1; }
# A service polled by Prometheus has no use for the GUI libraries.
ldd "$root/usr/bin/korvel-exporter" | grep -q libQt6Gui && { echo "FAIL: korvel-exporter loads QtGui"; failed=1; }
# The report runs in korvel-cli-report, found from korvel-cli's own folder; nothing else needs QtGui.
printf '[IP]\nADDRESS=10.0.0.5\n' >"$work/plant.ini"
"$root/usr/bin/korvel-cli" report "$work/plant.ini" -o "$work/plant.html" >/dev/null &&
  grep -q '10.0.0.5' "$work/plant.html" || { echo "FAIL: the unpacked korvel-cli makes no report"; failed=1; }
ldd "$root/usr/bin/korvel-cli" | grep -q libQt6Gui && { echo "FAIL: korvel-cli loads QtGui"; failed=1; }

[ "$failed" = 0 ] && echo "package $(basename "$deb"): complete"
exit "$failed"
