#!/usr/bin/env python3
"""Writes the report templates of the sample installation.

    python3 make_sample_templates.py SAMPLES_DIR

For every document type: "Prix nets.fr3" and "Prix TTC.fr3" under
Modeles/Documents/<TYPE>/<Title>/Corvanel/<Portrait|Paysage>/, and the report
template Modeles/Rapports/Liste.fr3. The files are in the template format of
docs/report-template-format.md; regenerate them after changing this script.
"""
import os
import sys
from xml.sax.saxutils import escape, quoteattr

HEADER = "Données du dossier"
LINES = "Données des lignes produits"
DESC = "Description des lignes produits"
CONFIG = "Données de la configuration"

TYPES = [
    ("DEVIS", "Devis", "DEVIS"),
    ("VARIANTE", "Variante", "VARIANTE"),
    ("COMMANDE CLIENT", "Commande Client", "COMMANDE"),
    ("COMMANDE FOURNISSEUR", "Commande Fournisseur", "COMMANDE FOURNISSEUR"),
    ("FACTURE", "Facture", "FACTURE"),
]

GREY = "#e6e9ef"
DARK = "#1f3a5f"


def f(ds, alias, fmt=None):
    return "[%s.\"%s\"%s]" % (ds, alias, "|" + fmt if fmt else "")


class Band:
    def __init__(self, name, type_, height, **attrs):
        self.name, self.type, self.height, self.attrs, self.objects = name, type_, height, attrs, []

    def text(self, name, left, top, width, height, text, size=9, style="", halign="left", valign="top",
             stretch=False, frame="", fill=None, color=None, visible_if=None, word_wrap=True):
        a = dict(name=name, left=left, top=top, width=width, height=height, font="Arial", fontSize=size,
                 fontStyle=style, halign=halign, valign=valign, wordWrap="true" if word_wrap else "false",
                 stretch="true" if stretch else "false", padding=0.8)
        if frame:
            a["frame"] = frame
            a["frameWidth"] = 0.2
            a["frameColor"] = "#8a94a6"
        if fill:
            a["fill"] = fill
        if color:
            a["fontColor"] = color
        if visible_if:
            a["visibleIf"] = visible_if
        self.objects.append(("Text", a, text))

    def picture(self, name, left, top, width, height, field=None, frame="", visible_if=None):
        a = dict(name=name, left=left, top=top, width=width, height=height)
        if field:
            a["field"] = field
        if frame:
            a["frame"] = frame
            a["frameColor"] = "#c0c6d0"
        if visible_if:
            a["visibleIf"] = visible_if
        self.objects.append(("Picture", a, None))

    def line(self, name, left, top, width, pen=0.3, color="#8a94a6"):
        self.objects.append(("Line", dict(name=name, left=left, top=top, width=width, height=0, penWidth=pen,
                                          color=color), None))

    def rect(self, name, left, top, width, height, fill=None, color="#8a94a6"):
        a = dict(name=name, left=left, top=top, width=width, height=height, penWidth=0.3, color=color)
        if fill:
            a["fill"] = fill
        self.objects.append(("Rect", a, None))

    def xml(self):
        attrs = dict(name=self.name, type=self.type, height=self.height)
        attrs.update(self.attrs)
        out = ["  <Band%s>" % "".join(" %s=%s" % (k, quoteattr(str(v))) for k, v in attrs.items())]
        for tag, a, text in self.objects:
            at = "".join(" %s=%s" % (k, quoteattr(str(v))) for k, v in a.items())
            if text is None:
                out.append("   <%s%s/>" % (tag, at))
            else:
                out.append("   <%s%s>%s</%s>" % (tag, at, escape(text), tag))
        out.append("  </Band>")
        return "\n".join(out)


def report(title, landscape, bands):
    head = ['<?xml version="1.0" encoding="UTF-8"?>',
            '<TessalyReport version="1" title=%s>' % quoteattr(title),
            ' <PrintOptions printer="" copies="1" pages=""/>',
            ' <Page name="Page1" paper="A4" paperWidth="210" paperHeight="297" orientation="%s"'
            ' leftMargin="10" topMargin="10" rightMargin="10" bottomMargin="10" dataOnly="false">'
            % ("landscape" if landscape else "portrait")]
    return "\n".join(head + [b.xml() for b in bands] + [" </Page>", "</TessalyReport>", ""])


def document(doc_title, landscape, ttc):
    W = 277 if landscape else 190
    cfg = lambda a: f(CONFIG, a)
    # Columns: sketch, description, dimensions, supplier, Uw, quantity, unit price.
    if landscape:
        cols = [("Croquis", 36), ("Désignation", 96), ("Dimensions", 36), ("Fournisseur", 46), ("Uw", 16),
                ("Qté", 14), ("P.U. HT", 33)]
    else:
        cols = [("Croquis", 30), ("Désignation", 62), ("Dimensions", 25), ("Fournisseur", 30), ("Uw", 11),
                ("Qté", 10), ("P.U. HT", 22)]
    x = [0]
    for _, w in cols:
        x.append(x[-1] + w)
    assert x[-1] == W

    title = Band("ReportTitle1", "ReportTitle", 50, stretch="true")
    title.picture("Image_Logo", 0, 0, 55, 24, field=cfg("Logo"))
    title.text("Mem_Societe", 0, 26, 90, 16,
               "Corvanel Menuiseries\n4 quai des Artisans, 69007 Lyon\nTél. 04 72 00 00 00 - contact@corvanel.example",
               size=8, color="#4a5568")
    title.text("Mem_Titre", W - 95, 0, 95, 9, "%s N° %s" % (doc_title, f(HEADER, "Numéro")), size=15, style="b",
               halign="right", color=DARK)
    title.text("Mem_Date", W - 95, 9, 95, 6, "Lyon, le %s" % f(HEADER, "Date", "D"), size=9, halign="right")
    title.text("Mem_Tarif", W - 95, 15, 95, 5, "Prix TTC" if ttc else "Prix nets hors taxes", size=8, style="i",
               halign="right", color="#4a5568")
    title.text("Mem_Client", W - 95, 22, 95, 24,
               "%s\n%s\n%s" % (f(HEADER, "Client"), f(HEADER, "Adresse"), f(HEADER, "E-mail")),
               size=10, stretch=True, frame="LTRB")

    header = Band("PageHeader1", "PageHeader", 8)
    for i, (caption, w) in enumerate(cols):
        name = "Mem_Entete_" + ["Croquis", "Designation", "Dimensions", "Fournisseur", "UW", "Qte", "PU"][i]
        vis = {2: cfg("Dimensions"), 3: cfg("Fournisseurs"), 0: cfg("Croquis")}.get(i)
        header.text(name, x[i], 1, w, 6, caption, size=8, style="b", fill=GREY, valign="center",
                    halign="left" if i < 4 else "right", visible_if=vis)

    startend = Band("DataDebutFin", "MasterData", 7, stretch="true", dataset=LINES,
                    filter='%s = -1' % f(LINES, "Id"))
    startend.text("Mem_DebutFin", 0, 1, W, 5, f(LINES, "Modèle"), size=9, style="i", stretch=True,
                  color="#2d3748")

    data = Band("DataLigne", "MasterData", 30, stretch="true", keepTogether="true", dataset=LINES,
                filter='%s <> -1' % f(LINES, "Id"))
    data.picture("Image_Croquis", x[0] + 1, 1, cols[0][1] - 2, 27, field=f(LINES, "Croquis"), frame="LTRB",
                 visible_if=cfg("Croquis"))
    data.text("Mem_Designation", x[1], 1, cols[1][1], 6, f(LINES, "Modèle"), size=9, style="b", stretch=True)
    data.text("Mem_Dimensions", x[2], 1, cols[2][1], 6,
              "%s x %s mm" % (f(LINES, "Largeur"), f(LINES, "Hauteur")), size=8, visible_if=cfg("Dimensions"))
    data.text("Mem_Fournisseur", x[3], 1, cols[3][1], 10, f(LINES, "Fournisseur"), size=8, stretch=True,
              visible_if=cfg("Fournisseurs"))
    data.text("Mem_UW", x[4], 1, cols[4][1], 6, f(LINES, "Uw", "F1"), size=8, halign="right")
    data.text("Mem_Qte", x[5], 1, cols[5][1], 6, f(LINES, "Quantité"), size=9, halign="right")
    data.text("Mem_PU", x[6], 1, cols[6][1], 6, f(LINES, "Prix unitaire", "N2") + " €", size=9, halign="right")

    detail = Band("DataDescription", "DetailData", 5, stretch="true", dataset=DESC)
    detail.text("Mem_Description", x[1], 0, W - x[1], 5, "– " + f(DESC, "Texte"), size=8, style="i",
                stretch=True, color="#4a5568")

    summary = Band("ReportSummary1", "ReportSummary", 34, stretch="true")
    summary.line("Line_Total", 0, 2, W, pen=0.5, color=DARK)
    bx = W - 80
    if ttc:
        summary.text("Mem_TotalHT", bx, 4, 80, 6, "Total HT : %s €" % f(HEADER, "Total HT", "N2"), size=9,
                     halign="right")
        summary.text("Mem_TotalTTC", bx, 10, 80, 9, "Total TTC : %s €" % f(HEADER, "Total TTC", "N2"), size=13,
                     style="b", halign="right", fill=GREY, valign="center", color=DARK)
    else:
        summary.text("Mem_TotalHT", bx, 4, 80, 9, "Total net HT : %s €" % f(HEADER, "Total HT", "N2"), size=13,
                     style="b", halign="right", fill=GREY, valign="center", color=DARK)
        summary.text("Mem_TotalTTC", bx, 13, 80, 6, "Total TTC : %s €" % f(HEADER, "Total TTC", "N2"), size=9,
                     halign="right")
    summary.text("Mem_Acompte", bx, 20, 80, 5, "Un acompte de 30 % est demandé à la commande.", size=7,
                  style="i", halign="right", visible_if=f(HEADER, "Acompte demandé"))
    summary.text("Mem_CGV", 0, 4, bx - 6, 6, cfg("CGV"), size=7, stretch=True, color="#4a5568")
    summary.text("Mem_QCM", 0, 27, bx - 6, 6, cfg("QCM"), size=7, stretch=True, color="#4a5568")

    footer = Band("PageFooter1", "PageFooter", 14)
    footer.line("Line_Pied", 0, 0.5, W, pen=0.3)
    footer.text("Mem_PiedDePage1", 0, 1.5, W - 30, 5, cfg("Pied de page 1"), size=7, halign="center",
                color="#4a5568")
    footer.text("Mem_PiedDePage2", 0, 6, W - 30, 8, cfg("Pied de page 2"), size=7, halign="center",
                color="#4a5568")
    footer.text("Mem_Page", W - 30, 1.5, 30, 5, "Page [Page#] / [TotalPages#]", size=7, halign="right")
    return [title, header, startend, data, detail, summary, footer]


def liste():
    W = 190
    title = Band("ReportTitle1", "ReportTitle", 22)
    title.text("Mem_Titre", 0, 0, W, 10, f(HEADER, "Titre"), size=15, style="b", color=DARK)
    title.text("Mem_Date", 0, 11, W, 6, "Édité le %s" % f(HEADER, "Date", "D"), size=9, color="#4a5568")
    header = Band("PageHeader1", "PageHeader", 8)
    header.text("Mem_Entete_Devis", 0, 1, 50, 6, "Devis", size=9, style="b", fill=GREY, valign="center")
    header.text("Mem_Entete_Client", 50, 1, 90, 6, "Client", size=9, style="b", fill=GREY, valign="center")
    header.text("Mem_Entete_Montant", 140, 1, 50, 6, "Montant HT", size=9, style="b", fill=GREY,
                halign="right", valign="center")
    data = Band("DataLigne", "MasterData", 7, stretch="true", dataset=LINES)
    data.text("Mem_Devis", 0, 0.5, 50, 6, f(LINES, "Devis"), size=9)
    data.text("Mem_Client", 50, 0.5, 90, 6, f(LINES, "Client"), size=9, stretch=True)
    data.text("Mem_Montant", 140, 0.5, 50, 6, f(LINES, "Montant HT", "N2") + " €", size=9, halign="right")
    data.line("Line_Ligne", 0, 6.8, W, pen=0.1, color="#c0c6d0")
    footer = Band("PageFooter1", "PageFooter", 8)
    footer.line("Line_Pied", 0, 0.5, W)
    footer.text("Mem_Page", W - 40, 1.5, 40, 5, "Page [Page#] / [TotalPages#]", size=7, halign="right")
    return report("Liste", False, [title, header, data, footer])


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else "samples"
    for type_, title, doc_title in TYPES:
        for orient in ("Portrait", "Paysage"):
            folder = os.path.join(root, "Modeles", "Documents", type_, title, "Corvanel", orient)
            os.makedirs(folder, exist_ok=True)
            for name, ttc in (("Prix nets.fr3", False), ("Prix TTC.fr3", True)):
                text = report("%s - %s (%s)" % (title, name[:-4], orient), orient == "Paysage",
                              document(doc_title, orient == "Paysage", ttc))
                with open(os.path.join(folder, name), "w", encoding="utf-8") as out:
                    out.write(text)
    folder = os.path.join(root, "Modeles", "Rapports")
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "Liste.fr3"), "w", encoding="utf-8") as out:
        out.write(liste())


if __name__ == "__main__":
    main()
