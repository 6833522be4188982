#include "tools/station/record_chain.h"

#include "tools/station/counted.h"
#include "tools/station/record_sql.h"

#include <QCryptographicHash>

namespace {

void add_field(QCryptographicHash& hash, QString text)
{
    text.replace(QChar(0), QChar(0xfffd));
    const QByteArray bytes = text.toUtf8();
    hash.addData(QByteArray::number(bytes.size()) + ":");
    hash.addData(bytes);
}

QString describe(const FlashRecord& r)
{
    return QString("record %1 (%2 %3, started %4)").arg(r.id).arg(r.station, r.unit, iso_utc(r.started));
}

} // namespace

QString chain_of(const QString& previous, const FlashRecord& r)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(previous.toUtf8());
    for (const QString& field :
         {r.station, r.unit, r.port, r.adapter, iso_utc(r.started), iso_utc(r.ended), QString::number(r.seconds, 'f', 3),
          QString(r.passed ? "pass" : "fail"), r.exit_status ? QString::number(*r.exit_status) : QString(), r.reason,
          r.uploads, r.answers, r.journal, r.key, r.images, r.script_sha256, r.kestrin_version, r.station_version,
          r.serial, QString::number(r.chain_seq)})
        add_field(hash, field);
    return hash.result().toHex();
}

RecordChain::RecordChain(QString station, std::optional<ChainLink> last) : previous_(std::move(station))
{
    if (last) {
        previous_ = last->chain;
        next_seq_ = last->seq + 1;
    }
}

FlashRecord RecordChain::linked(FlashRecord record) const
{
    record.chain_seq = next_seq_;
    record.chain = chain_of(previous_, record);
    return record;
}

void RecordChain::kept(const FlashRecord& record)
{
    previous_ = record.chain;
    next_seq_ = record.chain_seq + 1;
}

void ChainVerifier::take(const FlashRecord& record)
{
    ++records_;
    const bool first_of_station = !stations_.contains(record.station);
    Station& station = stations_[record.station];
    if (first_of_station)
        station.previous = record.station;
    if (broken_)
        return;
    const auto breaks = [&](const QString& what) { broken_ = ChainBreak{record.id, record.station, what}; };
    if (record.chain.isEmpty()) {
        if (station.next_seq == 1)
            ++unchained_; // from before the station's records were chained
        else
            breaks(describe(record) + " has no chain: it was inserted among the station's chained records");
        return;
    }
    if (record.chain_seq > station.next_seq)
        breaks(QString("the station's records %1 to %2, before %3, were removed")
                   .arg(station.next_seq)
                   .arg(record.chain_seq - 1)
                   .arg(describe(record)));
    else if (record.chain_seq < station.next_seq)
        breaks(QString("%1 is out of order: it is the station's record %2, but stands after record %3")
                   .arg(describe(record))
                   .arg(record.chain_seq)
                   .arg(station.next_seq - 1));
    else if (chain_of(station.previous, record) != record.chain)
        breaks(describe(record) + ": a field of it, or of the station's record before it, was changed after it was recorded");
    station.previous = record.chain;
    station.next_seq = record.chain_seq + 1;
}

QString ChainVerifier::verdict() const
{
    if (broken_)
        return "the chain of " + broken_->station + "'s records breaks: " + broken_->what;
    QString text = counted(records_, "record", "records") + " of " + counted(stations(), "station", "stations") + ": intact";
    if (unchained_ > 0)
        text += QString(" (%1 of them from before records were chained)").arg(unchained_);
    return text;
}
