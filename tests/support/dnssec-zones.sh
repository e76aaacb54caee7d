#!/bin/sh
# Writes a signed test hierarchy into DIR: a root zone, the TLD "test" and
# domains under it, each kind of DNSSEC state once, with nsd configurations
# for three servers (root, TLD, domains), the root hints and the trust anchor
# in dns-root-data's formats. Run by the DNSSEC tests; sends nothing anywhere.
#
#   dnssec-zones.sh DIR ROOT_ADDR TLD_ADDR DOMAIN_ADDR
#
# good.test      signed, DS at the parent matches its key signing key; one name
#                server more than the parent names
# expired.test   signed, every signature expired
# badds.test     signed, the parent's DS is of a key the zone does not have
# insecure.test  no DS at the parent (the parent's NSEC proves it), unsigned
# sha1.test      signed with RSA/SHA-1
# lame.test      delegated to a server that is not authoritative for it
#
# A file DIR/extra-<domain>.zone written beforehand (records with absolute
# owner names) is added to that domain's zone before it is signed.
set -eu
dir=$1 root=$2 tld=$3 dom=$4
mkdir -p "$dir"
cd "$dir"
now=$(date +%s)
inception=$((now - 86400))
# An hour short of 30 days, so that a check run in the very second of
# signing still sees 29 whole days left, as one run a little later does.
expiration=$((now + 30 * 86400 - 3600))

key() {  # zone algorithm [-k] [bits]: prints the key's base name
  zone=$1 alg=$2
  shift 2
  ldns-keygen -a "$alg" "$@" "$zone"
}

soa() {  # zone primary
  printf '$TTL 3600\n%s IN SOA %s hostmaster.%s 1 3600 900 604800 300\n' "$1" "$2" "${1#.}"
}

sign() {  # zone file expiration inception keys…
  zone=$1 file=$2 exp=$3 inc=$4
  shift 4
  ldns-signzone -o "$zone" -e "$exp" -i "$inc" -f "$file.signed" "$file" "$@" >/dev/null
}

# The domains first: the TLD needs their DS records.
for d in good expired badds sha1; do
  if [ "$d" = sha1 ]; then alg=RSASHA1 bits="-b 2048"; else alg=ECDSAP256SHA256 bits=""; fi
  ksk=$(key "$d.test." "$alg" -k $bits)
  zsk=$(key "$d.test." "$alg" $bits)
  {
    soa "$d.test." "ns1.$d.test."
    printf '%s.test. IN NS ns1.%s.test.\n' "$d" "$d"
    printf 'ns1.%s.test. IN A %s\n' "$d" "$dom"
    printf 'www.%s.test. IN A 192.0.2.80\n' "$d"
    # A second server the parent does not name: NS sets that differ.
    if [ "$d" = good ]; then
      printf 'good.test. IN NS ns2.good.test.\nns2.good.test. IN A %s\n' "$dom"
    fi
    if [ -f "extra-$d.zone" ]; then cat "extra-$d.zone"; fi
  } >"$d.zone"
  if [ "$d" = expired ]; then
    sign "$d.test." "$d.zone" 20200201000000 20200101000000 "$ksk" "$zsk"
  else
    sign "$d.test." "$d.zone" "$expiration" "$inception" "$ksk" "$zsk"
  fi
  if [ "$d" = badds ]; then
    other=$(key "$d.test." "$alg" -k)
    cp "$other.ds" "$d.ds"
  else
    cp "$ksk.ds" "$d.ds"
  fi
done
{
  soa insecure.test. ns1.insecure.test.
  printf 'insecure.test. IN NS ns1.insecure.test.\n'
  printf 'ns1.insecure.test. IN A %s\n' "$dom"
  printf 'www.insecure.test. IN A 192.0.2.80\n'
  if [ -f extra-insecure.zone ]; then cat extra-insecure.zone; fi
} >insecure.zone

ksk=$(key test. ECDSAP256SHA256 -k)
zsk=$(key test. ECDSAP256SHA256)
{
  soa test. ns.nic.test.
  printf 'test. IN NS ns.nic.test.\n'
  printf 'ns.nic.test. IN A %s\n' "$tld"
  printf 'a.root.test. IN A %s\n' "$root"
  for d in good expired badds sha1 insecure; do
    printf '%s.test. IN NS ns1.%s.test.\n' "$d" "$d"
    printf 'ns1.%s.test. IN A %s\n' "$d" "$dom"
  done
  for d in good expired badds sha1; do cat "$d.ds"; done
  # Delegated to the root server, which answers for no such zone.
  printf 'lame.test. IN NS ns1.lame.test.\n'
  printf 'ns1.lame.test. IN A %s\n' "$root"
} >test.zone
sign test. test.zone "$expiration" "$inception" "$ksk" "$zsk"
cp "$ksk.ds" test.ds

ksk=$(key . ECDSAP256SHA256 -k)
zsk=$(key . ECDSAP256SHA256)
{
  soa . a.root.test.
  printf '. IN NS a.root.test.\n'
  printf 'test. IN NS ns.nic.test.\n'
  printf 'ns.nic.test. IN A %s\n' "$tld"
  printf 'a.root.test. IN A %s\n' "$root"
  cat test.ds
} >root.zone
sign . root.zone "$expiration" "$inception" "$ksk" "$zsk"

# The trust anchor as dns-root-data ships it (the root's key signing key),
# and the root hints.
grep -v '^;' "$ksk.key" >root.key
printf '.\t3600000\tNS\ta.root.test.\na.root.test.\t3600000\tA\t%s\n' "$root" >root.hints

server() {  # name address zones…
  name=$1 addr=$2
  shift 2
  {
    printf 'server:\n  ip-address: %s@53\n  do-ip6: no\n  username: ""\n  chroot: ""\n' "$addr"
    printf '  zonesdir: "%s"\n  database: ""\n  zonelistfile: "%s/%s.zonelist"\n' "$dir" "$dir" "$name"
    printf '  pidfile: "%s/%s.pid"\n  logfile: "%s/%s.log"\n  xfrdfile: "%s/%s.xfrd"\n' \
      "$dir" "$name" "$dir" "$name" "$dir" "$name"
    printf '  server-count: 1\n  verbosity: 1\n  hide-version: yes\n  tcp-count: 10\n'
    printf 'remote-control:\n  control-enable: no\n'
    for z in "$@"; do
      file=$z
      [ "$z" = . ] && file=root
      [ -f "$file.zone.signed" ] && file=$file.zone.signed || file=$file.zone
      zone=$z
      [ "$z" = . ] || zone=$z.test
      [ "$z" = test ] && zone=test
      printf 'zone:\n  name: "%s"\n  zonefile: "%s"\n' "$zone" "$file"
    done
  } >"$name.conf"
}
server root "$root" .
server tld "$tld" test
server domains "$dom" good expired badds sha1 insecure
